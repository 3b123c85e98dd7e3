#include "dialog/progress_dialog.h"

#include <windows.h>

#include <commctrl.h>

#include <string>

#include "common/site.h"
#include "common/system_library.h"
#include "common/wide_string.h"
#include "dialog/place_on_monitor.h"
#include "worker/run_update_worker.h"

namespace kestrova {
namespace {

static_assert(sizeof(TASKDIALOGCONFIG) == 160, "the task dialog record is byte-packed");

constexpr std::string_view kMainInstruction = "Скачиваю Kestrova AI";
constexpr SIZE_T kWorkerStackReservation = 2 * 1024 * 1024;

DWORD WINAPI WorkerThread(LPVOID parameter) {
  RunUpdateWorker(static_cast<HWND>(parameter));
  return 0;
}

}  // namespace

void RunProgressDialog() {
  // The common controls come from the manifest's version 6 assembly. When they
  // or the task dialog cannot be had, the dialog cannot be shown (see below).
  decltype(&TaskDialogIndirect) showTaskDialog = nullptr;
  const HMODULE controls = LoadSystemLibrary(L"comctl32.dll");
  if (controls == nullptr || !FindEntry(controls, "TaskDialogIndirect", showTaskDialog)) return;

  const WideString title(kProductName);
  const WideString instruction(kMainInstruction);
  const WideString content(std::string("Подключаюсь к ").append(kSiteHost));

  TASKDIALOGCONFIG config{};
  config.cbSize = sizeof(config);
  config.hwndParent = nullptr;
  config.hInstance = GetModuleHandleW(nullptr);
  config.dwFlags = TDF_SHOW_PROGRESS_BAR;
  config.dwCommonButtons = TDCBF_CANCEL_BUTTON;
  config.pszWindowTitle = title.c_str();
  config.pszMainIcon = MAKEINTRESOURCEW(1);
  config.pszMainInstruction = instruction.c_str();
  config.pszContent = content.c_str();
  config.pfCallback = ProgressDialogCallback;
  config.lpCallbackData = 0;
  config.cxWidth = 0;

  // The result is not looked at: a dialog that cannot be shown never starts
  // the worker, and the launcher then finds no outcome.
  showTaskDialog(&config, nullptr, nullptr, nullptr);
}

HRESULT CALLBACK ProgressDialogCallback(HWND window, UINT notification, WPARAM, LPARAM, LONG_PTR) {
  if (notification == TDN_CREATED) {
    PlaceOnMonitor(window);
    StartWorker(window);
  }
  return S_OK;
}

void StartWorker(HWND window) {
  HANDLE thread = CreateThread(nullptr, kWorkerStackReservation, WorkerThread, window,
                               STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread == nullptr) {
    // No thread means no run: the process ends quietly.
    ExitProcess(1);
  }
  CloseHandle(thread);
}

}  // namespace kestrova
