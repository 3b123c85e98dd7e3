#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "common/result.h"

namespace kestrova {

// A minisign public key: the key line's 42 bytes.
struct MinisignPublicKey {
  std::array<std::uint8_t, 2> algorithm{};
  std::array<std::uint8_t, 8> keyId{};
  std::array<std::uint8_t, 32> key{};
};

// Decodes the text of a minisign public-key file: an untrusted comment line
// (required, not looked at), then the key line. Fails with the minisign
// descriptions "Invalid encoding in minisign data" or "This signature
// algorithm is not supported by this implementation".
Result<MinisignPublicKey> DecodeMinisignPublicKey(std::string_view text);

}  // namespace kestrova
