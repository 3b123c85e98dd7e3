#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace kestrova {

// Decodes standard Base64 (RFC 4648 alphabet) with canonical "=" padding:
// the whole text must be consumed, the length a multiple of 4, the unused
// bits of the last character zero, and no other character, whitespace
// included, may appear. No value when the text is not such Base64.
std::optional<std::vector<std::uint8_t>> DecodeStrictBase64(std::string_view text);

}  // namespace kestrova
