// planted_dll: a DLL that an attacker would leave beside the program under the
// name of a system DLL. When any process loads it, it appends one line,
// "<its own file name>\t<the host program's full path>\r\n" (UTF-16), to
// "planted-loads.txt" in its own folder. It exports the WinINet and common
// controls functions that the program used to import, as failing stubs, so
// that a program which imports them would really start with it.
#include <windows.h>

#include <string>

namespace {

std::wstring ModulePath(HMODULE module) {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size())));
  return path;
}

void RecordLoad(HMODULE self) {
  const std::wstring own = ModulePath(self);
  const std::size_t slash = own.find_last_of(L'\\');
  const std::wstring line = own.substr(slash + 1) + L"\t" + ModulePath(nullptr) + L"\r\n";
  const std::wstring log = own.substr(0, slash + 1) + L"planted-loads.txt";
  const HANDLE file = CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size() * sizeof(wchar_t)), &written,
            nullptr);
  CloseHandle(file);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) RecordLoad(instance);
  return TRUE;
}

// The stubs, with the parameter lists of the real functions (handles and
// records as plain pointers): each fails.
extern "C" {

__declspec(dllexport) void* WINAPI
    InternetOpenW(const wchar_t*, DWORD, const wchar_t*, const wchar_t*, DWORD) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return nullptr;
}

__declspec(dllexport) void* WINAPI
    InternetOpenUrlW(void*, const wchar_t*, const wchar_t*, DWORD, DWORD, DWORD_PTR) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return nullptr;
}

__declspec(dllexport) BOOL WINAPI HttpQueryInfoW(void*, DWORD, void*, DWORD*, DWORD*) {
  return FALSE;
}

__declspec(dllexport) BOOL WINAPI InternetReadFile(void*, void*, DWORD, DWORD*) { return FALSE; }

__declspec(dllexport) BOOL WINAPI InternetCloseHandle(void*) { return FALSE; }

__declspec(dllexport) HRESULT WINAPI TaskDialogIndirect(const void*, int*, int*, BOOL*) {
  return E_FAIL;
}

}  // extern "C"
