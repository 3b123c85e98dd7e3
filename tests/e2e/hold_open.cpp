// Holds a file open without sharing, the way a running installer holds its
// own exe, until a stop file appears or the time is up.
//
//   hold_open FILE READYFILE STOPFILE SECONDS
#include <windows.h>

#include <shellapi.h>

#include <cwchar>

namespace {

bool Exists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

int wmain() {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (arguments == nullptr || count != 5) {
    return 120;
  }
  HANDLE file = CreateFileW(arguments[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    LocalFree(arguments);
    return 121;
  }
  HANDLE ready = CreateFileW(arguments[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  if (ready != INVALID_HANDLE_VALUE) {
    CloseHandle(ready);
  }
  const ULONGLONG deadline = GetTickCount64() + 1000ull * std::wcstoul(arguments[4], nullptr, 10);
  while (!Exists(arguments[3]) && GetTickCount64() < deadline) {
    Sleep(20);
  }
  CloseHandle(file);
  LocalFree(arguments);
  return 0;
}
