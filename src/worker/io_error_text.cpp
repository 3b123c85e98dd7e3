#include "worker/io_error_text.h"

#include "common/utf16_text.h"

namespace kestrova {
namespace {

// The interrupted-call code of the Windows socket layer (WSAEINTR).
constexpr std::uint32_t kInterruptedCall = 10004;

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

bool IsValidUtf16(std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsHighSurrogate(text[i])) {
      if (i + 1 >= text.size() || !IsLowSurrogate(text[i + 1])) return false;
      ++i;
    } else if (IsLowSurrogate(text[i])) {
      return false;
    }
  }
  return true;
}

// Unicode White_Space: all of it fits in one UTF-16 unit.
bool IsWhiteSpace(char16_t unit) {
  switch (unit) {
    case 0x09:
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x20:
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
      return true;
    default:
      return unit >= 0x2000 && unit <= 0x200A;
  }
}

}  // namespace

std::optional<std::string> TrimmedSystemMessage(std::u16string_view message) {
  if (!IsValidUtf16(message)) return std::nullopt;
  while (!message.empty() && IsWhiteSpace(message.back())) {
    message.remove_suffix(1);
  }
  return Utf16ToUtf8(message);
}

std::string FormatMessageFailedText(std::int32_t code, std::int32_t formatError) {
  return "OS Error " + std::to_string(code) + " (FormatMessageW() returned error " +
         std::to_string(formatError) + ")";
}

std::string InvalidUtf16MessageText(std::int32_t code) {
  return "OS Error " + std::to_string(code) + " (FormatMessageW() returned invalid UTF-16)";
}

std::string OsErrorText(std::string_view message, std::int32_t code) {
  std::string text(message);
  text += " (os error ";
  text += std::to_string(code);
  text += ')';
  return text;
}

bool IsInterruptedWrite(std::uint32_t code) { return code == kInterruptedCall; }

std::string CreateFileFailureText(std::string_view ioErrorText) {
  return "не записать во временную папку: " + std::string(ioErrorText);
}

std::string WriteFileFailureText(std::string_view ioErrorText) {
  return "не записать файл: " + std::string(ioErrorText);
}

}  // namespace kestrova
