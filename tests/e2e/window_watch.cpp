// Watches the windows of an end-to-end run from another process, the way a
// user sees them, and writes what it sees to a UTF-8 log, one record a line:
//
//   monitor <left> <top> <right> <bottom>  a monitor's work area, in the
//                                   order the system enumerates them (first)
//   window <class> <caption>        a top-level window became visible
//   dialog <bar position> <texts>   the progress dialog's state changed
//   rect <left> <top> <right> <bottom>  the dialog's window rectangle changed
//   box <text>                      a message box appeared
//   answered <yes|no> / cancelled   what the probe pressed
//   stop                            the stop file appeared (or time ran out)
//
// Fields are separated by tabs; line feeds inside texts are written as "\n".
//
//   window_probe LOGFILE STOPFILE ANSWER CANCEL
//
// ANSWER (yes, no, none) is what the probe answers a message box; CANCEL
// (never, download) says whether it presses the dialog's Cancel button once
// the dialog shows download progress.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <cwchar>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kCaption[] = L"Kestrova AI";
constexpr UINT kTimeoutMs = 500;

std::string Utf8(const std::wstring& text) {
  if (text.empty()) {
    return {};
  }
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8.data(), size,
                      nullptr, nullptr);
  std::string escaped;
  for (char c : utf8) {
    if (c == '\n') {
      escaped += "\\n";
    } else if (c == '\r') {
      escaped += "\\r";
    } else if (c == '\t') {
      escaped += "\\t";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 255);
  return name;
}

std::wstring TextOf(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kTimeoutMs, &length)) {
    return {};
  }
  std::vector<wchar_t> buffer(length + 2, L'\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                      SMTO_ABORTIFHUNG, kTimeoutMs, &copied);
  return std::wstring(buffer.data());
}

struct Log {
  HANDLE file;
  void Line(const std::string& line) {
    const std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    FlushFileBuffers(file);
  }
};

struct Children {
  std::vector<HWND> all;
};

BOOL CALLBACK CollectChild(HWND child, LPARAM data) {
  reinterpret_cast<Children*>(data)->all.push_back(child);
  return TRUE;
}

BOOL CALLBACK CollectTop(HWND window, LPARAM data) {
  reinterpret_cast<std::vector<HWND>*>(data)->push_back(window);
  return TRUE;
}

struct Dialog {
  HWND bar = nullptr;
  HWND cancel = nullptr;
  std::vector<HWND> statics;
};

Dialog ReadDialog(HWND window) {
  Children children;
  EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&children));
  Dialog dialog;
  for (HWND child : children.all) {
    const std::wstring name = ClassOf(child);
    if (_wcsicmp(name.c_str(), PROGRESS_CLASSW) == 0) {
      dialog.bar = child;
    } else if (_wcsicmp(name.c_str(), L"Button") == 0 && GetDlgCtrlID(child) == IDCANCEL) {
      dialog.cancel = child;
    } else if (_wcsicmp(name.c_str(), L"Static") == 0) {
      dialog.statics.push_back(child);
    }
  }
  return dialog;
}

bool Exists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

std::string RectFields(const RECT& rect) {
  return std::to_string(rect.left) + "\t" + std::to_string(rect.top) + "\t" +
         std::to_string(rect.right) + "\t" + std::to_string(rect.bottom);
}

BOOL CALLBACK LogMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM log) {
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  GetMonitorInfoW(monitor, &info);
  reinterpret_cast<Log*>(log)->Line("monitor\t" + RectFields(info.rcWork));
  return TRUE;
}

}  // namespace

int wmain() {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (arguments == nullptr || count != 5) {
    return 120;
  }
  Log log{CreateFileW(arguments[1], GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL, nullptr)};
  if (log.file == INVALID_HANDLE_VALUE) {
    return 121;
  }
  const std::wstring stopFile = arguments[2];
  const std::wstring answer = arguments[3];
  const bool cancelOnDownload = std::wcscmp(arguments[4], L"download") == 0;
  LocalFree(arguments);

  EnumDisplayMonitors(nullptr, nullptr, LogMonitor, reinterpret_cast<LPARAM>(&log));

  std::set<HWND> seen;
  std::set<HWND> answered;
  std::string lastDialogState;
  std::string lastRect;
  bool cancelled = false;
  const ULONGLONG deadline = GetTickCount64() + 180000;
  // Windows that exist before the run (Wine's own) are not the program's.
  {
    std::vector<HWND> before;
    EnumWindows(CollectTop, reinterpret_cast<LPARAM>(&before));
    seen.insert(before.begin(), before.end());
  }
  while (!Exists(stopFile.c_str()) && GetTickCount64() < deadline) {
    std::vector<HWND> windows;
    EnumWindows(CollectTop, reinterpret_cast<LPARAM>(&windows));
    bool busy = false;
    for (HWND window : windows) {
      if (!IsWindowVisible(window)) {
        continue;
      }
      const std::wstring caption = TextOf(window);
      if (seen.insert(window).second) {
        log.Line("window\t" + Utf8(ClassOf(window)) + "\t" + Utf8(caption));
      }
      if (caption != kCaption) {
        continue;
      }
      HWND boxText = GetDlgItem(window, 0xFFFF);
      if (boxText != nullptr && answered.count(window) == 0) {
        wchar_t text[4096] = {};
        GetDlgItemTextW(window, 0xFFFF, text, 4095);
        log.Line("box\t" + Utf8(text));
        answered.insert(window);
        if (answer == L"yes" || answer == L"no") {
          Sleep(100);
          PostMessageW(window, WM_COMMAND, answer == L"yes" ? IDYES : IDNO, 0);
          log.Line("answered\t" + Utf8(answer));
        }
        continue;
      }
      const Dialog dialog = ReadDialog(window);
      if (dialog.bar == nullptr) {
        continue;
      }
      busy = true;
      // Follow this dialog alone, without pause, until it is gone, so that
      // short states (the last progress step right before the dialog
      // closes) are seen.
      for (unsigned round = 0; IsWindow(window); ++round) {
        if (round % 256 == 0 && Exists(stopFile.c_str())) {
          break;
        }
        DWORD_PTR position = 0;
        SendMessageTimeoutW(dialog.bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, kTimeoutMs, &position);
        std::string state = "dialog\t" + std::to_string(position);
        bool downloading = false;
        for (HWND text : dialog.statics) {
          const std::wstring value = TextOf(text);
          if (value.empty()) {
            continue;
          }
          downloading = downloading || value.rfind(L"Скачано ", 0) == 0;
          state += "\t" + Utf8(value);
        }
        if (state != lastDialogState) {
          log.Line(state);
          lastDialogState = state;
        }
        RECT rect{};
        GetWindowRect(window, &rect);
        const std::string rectLine = "rect\t" + RectFields(rect);
        if (rectLine != lastRect) {
          log.Line(rectLine);
          lastRect = rectLine;
        }
        if (cancelOnDownload && downloading && !cancelled) {
          cancelled = true;
          if (dialog.cancel != nullptr) {
            PostMessageW(dialog.cancel, BM_CLICK, 0, 0);
          } else {
            PostMessageW(window, TDM_CLICK_BUTTON, IDCANCEL, 0);
          }
          log.Line("cancelled");
        }
      }
    }
    if (!busy) {
      Sleep(5);
    }
  }
  log.Line("stop");
  CloseHandle(log.file);
  return 0;
}
