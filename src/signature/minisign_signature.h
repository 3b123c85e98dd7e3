#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/result.h"

namespace kestrova {

// A minisign signature as its file gives it.
struct MinisignSignature {
  std::string untrustedComment;
  std::array<std::uint8_t, 2> algorithm{};
  std::array<std::uint8_t, 8> keyId{};
  std::array<std::uint8_t, 64> signature{};
  std::string trustedComment;  // the third line without "trusted comment: "
  std::array<std::uint8_t, 64> globalSignature{};
  bool prehashed = false;
};

// Decodes the text of a minisign signature file: untrusted comment line,
// signature line (74 bytes), "trusted comment: " line, global signature line
// (64 bytes); further lines are ignored. Fails with the minisign descriptions
// "Invalid encoding in minisign data" or "This signature algorithm is not
// supported by this implementation".
Result<MinisignSignature> DecodeMinisignSignature(std::string_view text);

}  // namespace kestrova
