// url_recorder: stands in for the program that opens an address (a browser),
// so that tests can see what the shell was asked to open. A GUI-subsystem
// program: nothing is shown.
//
//   url_recorder register SCHEME RECORD-FILE
//       Makes this program the handler of SCHEME ("https") in the current
//       Wine prefix: HKLM\Software\Classes\SCHEME\shell\open\command becomes
//       "<this program>" record "RECORD-FILE" "%1" (and "URL Protocol" is set).
//       Run it under the test prefix only.
//   url_recorder record RECORD-FILE ARGUMENT...
//       Appends each ARGUMENT, UTF-8, followed by "\n", to RECORD-FILE
//       (created when missing). When the environment variable
//       URL_RECORDER_FILE is set and not empty, that file is used instead, so
//       that tests in one prefix can keep apart what each of them opened.
//
// Exit codes: 0 done; 2 wrong command line; 3 the registry or the file could
// not be written.
#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

#include "tool_text.h"

namespace {

constexpr int kDone = 0;
constexpr int kUsage = 2;
constexpr int kFailed = 3;

std::wstring ModulePath() {
  std::wstring path(32768, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(length);
  return path;
}

bool SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

int Register(const std::wstring& scheme, const std::wstring& recordFile) {
  const std::wstring classKey = L"Software\\Classes\\" + scheme;
  const std::wstring command = L"\"" + ModulePath() + L"\" record \"" + recordFile + L"\" \"%1\"";
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, (classKey + L"\\shell\\open\\command").c_str(), 0,
                      nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return kFailed;
  }
  const bool commandSet = SetString(key, nullptr, command);
  RegCloseKey(key);
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, classKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    return kFailed;
  }
  const bool protocolSet = SetString(key, L"URL Protocol", L"");
  RegCloseKey(key);
  return commandSet && protocolSet ? kDone : kFailed;
}

int Record(std::wstring recordFile, const std::vector<std::wstring>& arguments) {
  wchar_t fromEnvironment[32768] = {};
  const DWORD length = GetEnvironmentVariableW(L"URL_RECORDER_FILE", fromEnvironment, 32768);
  if (length > 0 && length < 32768) recordFile = fromEnvironment;
  std::string lines;
  for (const std::wstring& argument : arguments) lines += Utf8(argument) + "\n";
  const HANDLE file =
      CreateFileW(recordFile.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kFailed;
  DWORD written = 0;
  const BOOL ok =
      WriteFile(file, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == lines.size() ? kDone : kFailed;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) return kFailed;
  std::vector<std::wstring> args(argv + 1, argv + argc);
  LocalFree(argv);
  if (args.size() == 3 && args[0] == L"register") return Register(args[1], args[2]);
  if (args.size() >= 3 && args[0] == L"record") {
    return Record(args[1], std::vector<std::wstring>(args.begin() + 2, args.end()));
  }
  return kUsage;
}
