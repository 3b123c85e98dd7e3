// window_probe: reads and answers the windows of another process from outside,
// for tests under Wine. A console program; output is UTF-8 on standard output.
//
//   window_probe [--timeout MS] wait CAPTION
//       Waits until a visible top-level window titled exactly CAPTION exists.
//   window_probe [--timeout MS] gone CAPTION
//       Waits until no visible top-level window titled CAPTION is left.
//   window_probe [--timeout MS] texts CAPTION
//       Prints one line per child control of the window, descendants
//       included, in enumeration order: CLASS, a tab, TEXT. TEXT is the
//       control's window text with "\" "\n" "\r" "\t" written as \\ \n \r \t;
//       for a progress bar (msctls_progress32) it is its position (PBM_GETPOS)
//       in decimal digits.
//   window_probe [--timeout MS] box-text CAPTION
//       Prints the text of a message box (its static control 0xFFFF) exactly,
//       with no line end added.
//   window_probe [--timeout MS] press CAPTION yes|no|ok|cancel|enter
//       Answers the window: WM_COMMAND with IDYES, IDNO, IDOK or IDCANCEL
//       posted to it, or Enter (WM_KEYDOWN and WM_KEYUP of VK_RETURN posted to
//       the control that has the keyboard focus, else to the window).
//   window_probe [--timeout MS] click CAPTION BUTTON-TEXT
//       Clicks (BM_CLICK) the child button whose text is exactly BUTTON-TEXT.
//
// Every command waits up to MS milliseconds (default 10000) for its window.
// Exit codes: 0 done; 1 no such window within the time (for gone: still
// there); 2 wrong command line; 3 the window did not answer, or no such
// control.
#include <windows.h>

#include <commctrl.h>

#include <cwchar>
#include <string>
#include <vector>

#include "tool_text.h"

namespace {

constexpr int kDone = 0;
constexpr int kNotFound = 1;
constexpr int kUsage = 2;
constexpr int kNoAnswer = 3;
constexpr UINT kAnswerTimeoutMs = 5000;

void Print(const std::string& text) {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD written = 0;
  if (!text.empty())
    WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// The window text of a window of any process, or false when it does not answer.
bool ReadText(HWND window, std::wstring& text) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kAnswerTimeoutMs,
                           &length)) {
    return false;
  }
  std::vector<wchar_t> buffer(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(),
                           reinterpret_cast<LPARAM>(buffer.data()), SMTO_ABORTIFHUNG,
                           kAnswerTimeoutMs, &copied)) {
    return false;
  }
  text.assign(buffer.data(), copied < buffer.size() ? copied : buffer.size() - 1);
  return true;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

struct Search {
  const std::wstring* caption;
  HWND found;
};

BOOL CALLBACK MatchTopLevel(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<Search*>(parameter);
  if (!IsWindowVisible(window)) return TRUE;
  std::wstring text;
  if (ReadText(window, text) && text == *search->caption) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

HWND FindTopLevel(const std::wstring& caption) {
  Search search{&caption, nullptr};
  EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitFor(const std::wstring& caption, DWORD timeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    if (HWND window = FindTopLevel(caption)) return window;
    if (GetTickCount64() >= end) return nullptr;
    Sleep(50);
  }
}

BOOL CALLBACK CollectChild(HWND window, LPARAM parameter) {
  reinterpret_cast<std::vector<HWND>*>(parameter)->push_back(window);
  return TRUE;
}

std::vector<HWND> Children(HWND window) {
  std::vector<HWND> children;
  EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&children));
  return children;
}

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += c;
    }
  }
  return out;
}

int PrintTexts(HWND window) {
  std::string out;
  for (HWND child : Children(window)) {
    const std::wstring className = ClassOf(child);
    std::string text;
    if (lstrcmpiW(className.c_str(), PROGRESS_CLASSW) == 0) {
      DWORD_PTR position = 0;
      if (!SendMessageTimeoutW(child, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, kAnswerTimeoutMs,
                               &position)) {
        return kNoAnswer;
      }
      text = std::to_string(static_cast<unsigned>(position));
    } else {
      std::wstring wide;
      if (!ReadText(child, wide)) return kNoAnswer;
      text = Escaped(Utf8(wide));
    }
    out += Utf8(className) + "\t" + text + "\n";
  }
  Print(out);
  return kDone;
}

int PrintBoxText(HWND box) {
  HWND text = GetDlgItem(box, 0xFFFF);
  std::wstring wide;
  if (text == nullptr || !ReadText(text, wide)) return kNoAnswer;
  Print(Utf8(wide));
  return kDone;
}

int Press(HWND window, const std::wstring& answer) {
  WPARAM command = 0;
  if (answer == L"yes") command = IDYES;
  if (answer == L"no") command = IDNO;
  if (answer == L"ok") command = IDOK;
  if (answer == L"cancel") command = IDCANCEL;
  if (command != 0) {
    return PostMessageW(window, WM_COMMAND, command, 0) ? kDone : kNoAnswer;
  }
  if (answer != L"enter") return kUsage;
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  HWND target = window;
  if (GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) &&
      info.hwndFocus != nullptr) {
    target = info.hwndFocus;
  }
  const LPARAM down = 1 | (MapVirtualKeyW(VK_RETURN, MAPVK_VK_TO_VSC) << 16);
  const LPARAM up = down | (LPARAM{1} << 30) | (LPARAM{1} << 31);
  if (!PostMessageW(target, WM_KEYDOWN, VK_RETURN, down)) return kNoAnswer;
  return PostMessageW(target, WM_KEYUP, VK_RETURN, up) ? kDone : kNoAnswer;
}

int Click(HWND window, const std::wstring& buttonText) {
  for (HWND child : Children(window)) {
    std::wstring text;
    if (lstrcmpiW(ClassOf(child).c_str(), L"Button") == 0 && ReadText(child, text) &&
        text == buttonText) {
      return PostMessageW(child, BM_CLICK, 0, 0) ? kDone : kNoAnswer;
    }
  }
  return kNoAnswer;
}

int Usage() {
  Print(
      "usage: window_probe [--timeout MS] wait|gone|texts|box-text CAPTION\n"
      "       window_probe [--timeout MS] press CAPTION yes|no|ok|cancel|enter\n"
      "       window_probe [--timeout MS] click CAPTION BUTTON-TEXT\n");
  return kUsage;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::wstring> args(argv + 1, argv + argc);
  DWORD timeoutMs = 10000;
  if (args.size() >= 2 && args[0] == L"--timeout") {
    wchar_t* end = nullptr;
    timeoutMs = static_cast<DWORD>(std::wcstoul(args[1].c_str(), &end, 10));
    if (end == args[1].c_str() || *end != 0) return Usage();
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.size() < 2) return Usage();
  const std::wstring& command = args[0];
  const std::wstring& caption = args[1];
  const bool needsArgument = command == L"press" || command == L"click";
  if (args.size() != (needsArgument ? 3u : 2u)) return Usage();

  if (command == L"gone") {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (FindTopLevel(caption) != nullptr) {
      if (GetTickCount64() >= end) return kNotFound;
      Sleep(50);
    }
    return kDone;
  }
  if (command != L"wait" && command != L"texts" && command != L"box-text" && !needsArgument) {
    return Usage();
  }
  HWND window = WaitFor(caption, timeoutMs);
  if (window == nullptr) return kNotFound;
  if (command == L"texts") return PrintTexts(window);
  if (command == L"box-text") return PrintBoxText(window);
  if (command == L"press") return Press(window, args[2]);
  if (command == L"click") return Click(window, args[2]);
  return kDone;
}
