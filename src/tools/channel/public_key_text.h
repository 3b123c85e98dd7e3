#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "common/result.h"

namespace kestrova::channel {

// The public key that the verifier takes (Base64 of the two-line key file)
// made from a key line as minisign's -P takes it ("RW..."). Fails, with the
// library's description, when the line is not a minisign public key.
Result<std::string> PublicKeyFromLine(std::string_view keyLine);

// The key a command checks with: the one of its --public-key line when given,
// else the built-in one. Empty, after a diagnostic on `err`, when the line is
// not a key.
std::string ChosenPublicKey(const std::optional<std::string>& keyLine, std::ostream& err);

// The key's identifier as minisign writes it in a key file's comment: the
// eight bytes as one number, last byte first, in upper-case hexadecimal
// without leading zeros.
std::string KeyIdText(const std::array<std::uint8_t, 8>& keyId);

// The identifier of a public key given like the built-in one; empty when the
// key cannot be decoded.
std::string KeyIdOfPublicKey(std::string_view publicKeyBase64);

}  // namespace kestrova::channel
