// Stands in for the browser: registered as the https handler of the test
// prefix, it appends the address it is given to recorded-urls.txt beside
// itself, one UTF-8 line per start.
#include <windows.h>

#include <shellapi.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (arguments == nullptr) {
    return 2;
  }
  std::wstring line;
  for (int i = 1; i < count; ++i) {
    line += (i > 1 ? L" " : L"");
    line += arguments[i];
  }
  line += L"\n";
  wchar_t path[MAX_PATH + 64] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring log(path, length);
  log.erase(log.find_last_of(L"\\/") + 1);
  log += L"recorded-urls.txt";
  LocalFree(arguments);
  const int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), utf8.data(), size,
                      nullptr, nullptr);
  HANDLE file = CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return 3;
  }
  DWORD written = 0;
  WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
  CloseHandle(file);
  return 0;
}
