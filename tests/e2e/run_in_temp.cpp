// Starts a program with a temporary folder of its own and returns its exit
// code. Wine takes TEMP and TMP from its registry, not from the Linux shell,
// so a Windows parent has to set them for the child.
//
//   run_in_temp TEMPDIR SCREEN PROGRAM [ARGS...]
//
// SCREEN is the value for LF_SCREEN, or "-" to start the program without it.
#include <windows.h>

#include <shellapi.h>

#include <cwchar>
#include <string>

namespace {

std::wstring Quoted(const wchar_t* argument) {
  std::wstring text = L"\"";
  text += argument;
  text += L"\"";
  return text;
}

}  // namespace

int wmain() {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (arguments == nullptr || count < 4) {
    return 120;
  }
  SetEnvironmentVariableW(L"TEMP", arguments[1]);
  SetEnvironmentVariableW(L"TMP", arguments[1]);
  if (std::wcscmp(arguments[2], L"-") == 0) {
    SetEnvironmentVariableW(L"LF_SCREEN", nullptr);
  } else {
    SetEnvironmentVariableW(L"LF_SCREEN", arguments[2]);
  }
  std::wstring commandLine = Quoted(arguments[3]);
  for (int i = 4; i < count; ++i) {
    commandLine += L" ";
    commandLine += Quoted(arguments[i]);
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(arguments[3], commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &process)) {
    LocalFree(arguments);
    return 121;
  }
  LocalFree(arguments);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exitCode = 122;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(exitCode);
}
