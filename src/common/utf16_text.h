#pragma once

#include <string>
#include <string_view>

namespace kestrova {

// UTF-16 (as Windows gives paths) to UTF-8. Each unpaired surrogate becomes
// U+FFFD REPLACEMENT CHARACTER, one per surrogate.
std::string Utf16ToUtf8(std::u16string_view text);

// Appends the UTF-8 form of one code point (at most U+10FFFF).
void AppendUtf8(std::string& out, char32_t codePoint);

}  // namespace kestrova
