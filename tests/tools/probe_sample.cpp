// probe_sample: windows for testing window_probe against, shaped like the
// program's own: a task dialog with a progress bar and Cancel, and an error
// message box with Yes and No.
//
//   probe_sample task-dialog TITLE INSTRUCTION CONTENT POSITION
//       Shows a task dialog (Common Controls 6) with a progress bar at
//       POSITION (0..100) and a Cancel button. Exit code: the button that
//       closed it (IDCANCEL 2), or 90 when it could not be shown.
//   probe_sample box CAPTION TEXT
//       Shows MessageBoxW(no owner, TEXT, CAPTION, MB_ICONERROR | MB_YESNO).
//       Exit code: the answer (IDYES 6, IDNO 7; 0 when it could not be shown).
#include <windows.h>

#include <commctrl.h>

#include <cwchar>
#include <string>

namespace {

struct DialogSetting {
  int position;
};

HRESULT CALLBACK OnDialogEvent(HWND dialog, UINT notification, WPARAM, LPARAM, LONG_PTR data) {
  if (notification == TDN_CREATED) {
    const auto* setting = reinterpret_cast<const DialogSetting*>(data);
    SendMessageW(dialog, TDM_SET_PROGRESS_BAR_POS, static_cast<WPARAM>(setting->position), 0);
  }
  return S_OK;
}

int ShowTaskDialog(const wchar_t* title, const wchar_t* instruction, const wchar_t* content,
                   int position) {
  DialogSetting setting{position};
  TASKDIALOGCONFIG config{};
  config.cbSize = sizeof config;
  config.dwFlags = TDF_SHOW_PROGRESS_BAR;
  config.dwCommonButtons = TDCBF_CANCEL_BUTTON;
  config.pszWindowTitle = title;
  config.pszMainInstruction = instruction;
  config.pszContent = content;
  config.pfCallback = OnDialogEvent;
  config.lpCallbackData = reinterpret_cast<LONG_PTR>(&setting);
  int button = 0;
  if (FAILED(TaskDialogIndirect(&config, &button, nullptr, nullptr))) return 90;
  return button;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 6 && std::wcscmp(argv[1], L"task-dialog") == 0) {
    return ShowTaskDialog(argv[2], argv[3], argv[4], _wtoi(argv[5]));
  }
  if (argc == 4 && std::wcscmp(argv[1], L"box") == 0) {
    return MessageBoxW(nullptr, argv[3], argv[2], MB_ICONERROR | MB_YESNO);
  }
  return 2;
}
