#include "signature/strict_base64.h"

#include <sodium.h>

namespace kestrova {

std::optional<std::vector<std::uint8_t>> DecodeStrictBase64(std::string_view text) {
  // libsodium's decoder reads every byte from 0x80 up as "/" instead of
  // stopping there, so such bytes are refused before it sees them.
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      return std::nullopt;
    }
  }
  // One byte more than needed, so the buffer is never empty.
  std::vector<std::uint8_t> bytes(text.size() / 4 * 3 + 3);
  std::size_t decodedSize = 0;
  const char* end = nullptr;
  if (sodium_base642bin(bytes.data(), bytes.size(), text.data(), text.size(), nullptr, &decodedSize,
                        &end, sodium_base64_VARIANT_ORIGINAL) != 0) {
    return std::nullopt;
  }
  // The decoder stops at the first character outside the alphabet; anything
  // left over makes the text invalid.
  if (end != text.data() + text.size()) {
    return std::nullopt;
  }
  bytes.resize(decodedSize);
  return bytes;
}

}  // namespace kestrova
