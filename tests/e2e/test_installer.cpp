// The installer that end-to-end runs download: it only leaves a marker file
// beside itself, holding the command line it was started with.
#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t path[MAX_PATH + 64] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    return 2;
  }
  std::wstring marker(path, length);
  marker.erase(marker.find_last_of(L"\\/") + 1);
  marker += L"installer-ran.txt";
  HANDLE file = CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return 3;
  }
  const char text[] = "installer ran\n";
  DWORD written = 0;
  WriteFile(file, text, sizeof text - 1, &written, nullptr);
  CloseHandle(file);
  return 0;
}
