#pragma once

#include <string_view>

namespace kestrova {

// The text without the Unicode White_Space characters at its start and end
// (all 25 of them, from tab to U+3000). Inner whitespace stays.
std::string_view TrimWhiteSpace(std::string_view text);

// Whether the bytes are well-formed UTF-8: shortest forms only, no
// surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view bytes);

}  // namespace kestrova
