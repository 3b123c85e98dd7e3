#pragma once

#include <string>
#include <string_view>

#include "common/result.h"

namespace kestrova {

inline constexpr std::string_view kUnreadableSignatureText = "подпись не читается";

// The UTF-8 text that a Base64 text encodes. Unicode whitespace at both ends
// is ignored; the rest must be canonical standard Base64 of valid UTF-8.
// Fails with "подпись не читается".
Result<std::string> DecodeBase64Text(std::string_view text);

}  // namespace kestrova
