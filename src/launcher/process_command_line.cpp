#include "launcher/process_command_line.h"

#include <windows.h>

#include "launcher/command_line.h"

namespace kestrova {
namespace {

std::u16string ToUtf16(const wchar_t* text, std::size_t length) {
  return std::u16string(text, text + length);
}

}  // namespace

std::u16string ReadModulePath() {
  const std::wstring path = ReadGrowingPath<wchar_t>([](wchar_t* buffer, std::uint32_t size) {
    SetLastError(ERROR_SUCCESS);
    const DWORD written = GetModuleFileNameW(nullptr, buffer, size);
    return PathReadResult{written, GetLastError() == ERROR_INSUFFICIENT_BUFFER};
  });
  return ToUtf16(path.data(), path.size());
}

std::vector<std::u16string> SplitProcessCommandLine() {
  const wchar_t* commandLine = GetCommandLineW();
  if (commandLine == nullptr) return SplitCommandLine(nullptr, &ReadModulePath);
  const std::u16string units = ToUtf16(commandLine, lstrlenW(commandLine));
  return SplitCommandLine(units.c_str(), &ReadModulePath);
}

}  // namespace kestrova
