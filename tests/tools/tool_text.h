#pragma once

#include <string>
#include <string_view>

#include "common/utf16_text.h"

// UTF-8 of a Windows text, for the tools' output and records; an unpaired
// surrogate becomes U+FFFD.
inline std::string Utf8(std::wstring_view text) {
  return kestrova::Utf16ToUtf8(
      std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}
