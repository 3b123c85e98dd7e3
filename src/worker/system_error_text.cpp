#include "worker/system_error_text.h"

#include <windows.h>

#include <array>

#include "worker/io_error_text.h"

namespace kestrova {
namespace {

constexpr DWORD kMessageUnits = 2048;

// The message part: the system's text, or one of the two fallbacks.
std::string SystemMessage(std::uint32_t code) {
  HMODULE module = nullptr;
  DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  std::uint32_t lookup = code;
  if ((code & kNtStatusBit) != 0) {
    module = GetModuleHandleW(L"NTDLL.DLL");
    if (module != nullptr) {
      lookup = code & ~kNtStatusBit;
      flags |= FORMAT_MESSAGE_FROM_HMODULE;
    }
  }
  std::array<wchar_t, kMessageUnits> buffer{};
  const DWORD units =
      FormatMessageW(flags, module, lookup, 0, buffer.data(), kMessageUnits, nullptr);
  const auto shownCode = static_cast<std::int32_t>(lookup);
  if (units == 0) {
    return FormatMessageFailedText(shownCode, static_cast<std::int32_t>(GetLastError()));
  }
  const std::u16string_view message(reinterpret_cast<const char16_t*>(buffer.data()), units);
  if (auto text = TrimmedSystemMessage(message)) return *text;
  return InvalidUtf16MessageText(shownCode);
}

}  // namespace

std::string IoErrorText(std::uint32_t code) {
  return OsErrorText(SystemMessage(code), static_cast<std::int32_t>(code));
}

}  // namespace kestrova
