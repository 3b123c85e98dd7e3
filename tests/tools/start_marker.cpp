// start_marker: a tiny program that only shows that it was started, for tests
// that start a program (an installer) through the shell. A GUI-subsystem
// program: nothing is shown.
//
//   start_marker [ANYTHING...]
//       Writes the file "<its own path>.started": its own full path
//       (GetModuleFileNameW), "\n", its command line (GetCommandLineW),
//       "\n", both UTF-8. The marker appears at once, complete (it is written
//       under another name first). Copy it to the name the test needs (the shell is
//       asked to open that name) and wait for the marker next to it.
//
// Exit codes: 0 done; 3 the marker could not be written.
#include <windows.h>

#include <string>

#include "tool_text.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  const std::string content = Utf8(path) + "\n" + Utf8(GetCommandLineW()) + "\n";
  const std::wstring markerPath = path + L".started";
  const std::wstring partPath = markerPath + L".part";
  const HANDLE file = CreateFileW(partPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  DWORD written = 0;
  const BOOL ok =
      WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  CloseHandle(file);
  if (!ok || written != content.size()) return 3;
  return MoveFileExW(partPath.c_str(), markerPath.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 3;
}
