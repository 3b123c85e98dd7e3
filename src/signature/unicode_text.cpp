#include "signature/unicode_text.h"

#include <cstdint>

namespace kestrova {
namespace {

// The UTF-8 forms of every code point with the White_Space property.
constexpr std::string_view kWhiteSpace[] = {
    "\t",           "\n",           "\v",           "\f",           "\r",           " ",
    "\xC2\x85",     "\xC2\xA0",     "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82",
    "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88",
    "\xE2\x80\x89", "\xE2\x80\x8A", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F",
    "\xE3\x80\x80",
};

std::size_t LeadingWhiteSpace(std::string_view text) {
  for (std::string_view space : kWhiteSpace) {
    if (text.starts_with(space)) {
      return space.size();
    }
  }
  return 0;
}

std::size_t TrailingWhiteSpace(std::string_view text) {
  for (std::string_view space : kWhiteSpace) {
    if (text.ends_with(space)) {
      return space.size();
    }
  }
  return 0;
}

bool IsContinuation(std::uint8_t byte) { return (byte & 0xC0) == 0x80; }

}  // namespace

std::string_view TrimWhiteSpace(std::string_view text) {
  while (std::size_t size = LeadingWhiteSpace(text)) {
    text.remove_prefix(size);
  }
  while (std::size_t size = TrailingWhiteSpace(text)) {
    text.remove_suffix(size);
  }
  return text;
}

bool IsValidUtf8(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<std::uint8_t>(bytes[i]);
    std::size_t length = 0;
    std::uint32_t minimum = 0;
    std::uint32_t codePoint = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2;
      minimum = 0x80;
      codePoint = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3;
      minimum = 0x800;
      codePoint = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4;
      minimum = 0x10000;
      codePoint = lead & 0x07;
    } else {
      return false;
    }
    if (bytes.size() - i < length) {
      return false;
    }
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<std::uint8_t>(bytes[i + k]);
      if (!IsContinuation(next)) {
        return false;
      }
      codePoint = (codePoint << 6) | (next & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF ||
        (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
      return false;
    }
    i += length;
  }
  return true;
}

}  // namespace kestrova
