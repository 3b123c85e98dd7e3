#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrova::channel {

// A key ID as minisign's files carry it: the bytes of the ID as minisign
// prints it (most significant first, as a token's CKA_ID holds it), reversed.
std::array<std::uint8_t, 8> MinisignKeyNumber(const std::array<std::uint8_t, 8>& printedOrder);

// The key line of an Ed25519 public key ("RW..."), as minisign -P takes it.
std::string PublicKeyLine(const std::array<std::uint8_t, 8>& keyNumber,
                          const std::array<std::uint8_t, 32>& key);

// A public-key file as minisign writes it: "untrusted comment: minisign
// public key ID", then the key line.
std::string PublicKeyFileText(const std::array<std::uint8_t, 8>& keyNumber,
                              const std::array<std::uint8_t, 32>& key);

// The parts of a prehashed ("ED") minisign signature.
struct PrehashedSignature {
  std::string untrustedComment;
  std::array<std::uint8_t, 8> keyNumber{};
  std::array<std::uint8_t, 64> signature{};  // over the BLAKE2b-512 digest
  std::string trustedComment;
  std::array<std::uint8_t, 64> globalSignature{};  // over signature + trusted comment
};

// A signature file as minisign writes it, four lines.
std::string SignatureFileText(const PrehashedSignature& parts);

// minisign's own trusted comment for a file signed at a time:
// "timestamp:SECONDS<TAB>file:NAME<TAB>hashed", NAME without its folder.
std::string DefaultTrustedComment(std::uint64_t seconds, std::string_view path);

}  // namespace kestrova::channel
