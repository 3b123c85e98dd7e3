#pragma once
// Starting and watching helper programs from a Windows test under Wine:
// exact command lines, captured output, a time limit on every process.
#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace kestrova::test_process {

// The Windows form (drive Z:) of an absolute Linux path, as Wine maps it.
inline std::wstring WindowsPath(std::string_view linuxPath) {
  std::wstring path = L"Z:";
  for (char c : linuxPath) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
  return path;
}

inline std::string ReadWholeFile(const std::wstring& path) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string content;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
    content.append(buffer, read);
  CloseHandle(file);
  return content;
}

inline bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Waits up to timeoutMs for a file to exist.
inline bool WaitForFile(const std::wstring& path, DWORD timeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  while (!FileExists(path)) {
    if (GetTickCount64() >= end) return false;
    Sleep(50);
  }
  return true;
}

// One started program. Its standard output goes to a file that Output reads;
// a program still running when this object goes away is terminated.
class Child {
 public:
  // Starts `application` with exactly `commandLine` as its command line.
  Child(const std::wstring& application, const std::wstring& commandLine) {
    wchar_t directory[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, directory);
    wchar_t name[MAX_PATH + 1] = {};
    GetTempFileNameW(directory, L"out", 0, name);
    outputPath_ = name;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE output = CreateFileW(outputPath_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output;
    startup.hStdError = output;
    std::wstring line = commandLine;  // CreateProcessW may write to it
    PROCESS_INFORMATION process{};
    started_ = CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                              nullptr, &startup, &process) != FALSE;
    if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
    if (started_) {
      CloseHandle(process.hThread);
      process_ = process.hProcess;
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() {
    if (process_ != nullptr) {
      if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_, 99);
        WaitForSingleObject(process_, 5000);
      }
      CloseHandle(process_);
    }
    DeleteFileW(outputPath_.c_str());
  }

  bool started() const { return started_; }

  // The exit code once the program has ended within timeoutMs; nothing when
  // it is still running then (it is then terminated).
  std::optional<DWORD> Wait(DWORD timeoutMs) {
    if (process_ == nullptr) return std::nullopt;
    if (WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) {
      TerminateProcess(process_, 99);
      WaitForSingleObject(process_, 5000);
      return std::nullopt;
    }
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return code;
  }

  // Whether the program is still running after timeoutMs (it is left running).
  bool StillRunningAfter(DWORD timeoutMs) {
    return process_ != nullptr && WaitForSingleObject(process_, timeoutMs) == WAIT_TIMEOUT;
  }

  std::string Output() const { return ReadWholeFile(outputPath_); }

 private:
  bool started_ = false;
  HANDLE process_ = nullptr;
  std::wstring outputPath_;
};

struct Finished {
  std::optional<DWORD> exitCode;  // nothing: it did not end in time
  std::string output;
};

// Runs a program to its end (at most timeoutMs) and gives its exit code and output.
inline Finished RunToEnd(const std::wstring& application, const std::wstring& commandLine,
                         DWORD timeoutMs = 20000) {
  Child child(application, commandLine);
  Finished finished;
  finished.exitCode = child.Wait(timeoutMs);
  finished.output = child.Output();
  return finished;
}

// A command line argument in quotation marks (for paths without quotes of their own).
inline std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

// UTF-16 units as hexadecimal digits, four per unit: how a child reports the
// arguments it parsed, surrogates and all, through its output.
inline std::string Hex(const std::u16string& text) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (char16_t unit : text) {
    for (int shift = 12; shift >= 0; shift -= 4) out += kDigits[(unit >> shift) & 0xF];
  }
  return out;
}

}  // namespace kestrova::test_process
