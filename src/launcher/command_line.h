#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrova {

// Gives the full path of the program's own module, or an empty text when it
// cannot be read. Called only for an empty or missing command line.
using ModulePathReader = std::u16string (*)();

// Splits a command line (as GetCommandLineW gives it, NUL-terminated, or null)
// into the argument list by the Windows rules: the program name first, with
// quotes toggling and backslashes taken literally; then the arguments with the
// backslash and quotation-mark rules. A null or empty command line gives one
// element: the module path that readModulePath returns.
std::vector<std::u16string> SplitCommandLine(const char16_t* commandLine,
                                             ModulePathReader readModulePath);

// True when an element, the program name included, is exactly "--no-run".
// An element that is not well-formed UTF-16 never matches.
bool HasNoRunSwitch(const std::vector<std::u16string>& arguments);

// The buffer size, in UTF-16 units, for the next try at reading the module
// path after a buffer of `size` units was too small: twice as large, at most
// the largest 32-bit count. 0 when `size` is that count already: no larger
// buffer can be asked for.
std::uint32_t NextModulePathBufferSize(std::uint32_t size);

// The first buffer size for reading the module path.
inline constexpr std::uint32_t kFirstModulePathBufferSize = 512;

// Reads a path with a call of GetModuleFileNameW's kind: read(buffer, size)
// fills at most `size` units and returns the count it wrote (without the 0
// unit) and whether it reported that the buffer was too small. The buffer
// starts at 512 units and doubles while it is filled completely and the call
// reports it too small. A failed call (0 units written), or a path that does
// not fit even the largest buffer, gives an empty text.
struct PathReadResult {
  std::uint32_t written;
  bool insufficientBuffer;
};

template <typename Unit, typename Read>
std::basic_string<Unit> ReadGrowingPath(Read read) {
  std::uint32_t size = kFirstModulePathBufferSize;
  while (size != 0) {
    std::basic_string<Unit> buffer(size, Unit{});
    const PathReadResult result = read(buffer.data(), size);
    if (result.written == 0) return {};
    if (result.written < size || !result.insufficientBuffer) {
      buffer.resize(result.written < size ? result.written : size);
      return buffer;
    }
    size = NextModulePathBufferSize(size);
  }
  return {};
}

}  // namespace kestrova
