#pragma once

#include <p11-kit/p11-kit.h>
#include <p11-kit/uri.h>

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "common/owner.h"
#include "common/result.h"

namespace kestrova::channel {

using KeyUri = Owner<P11KitUri*, &p11_kit_uri_free>;

// The key's PKCS#11 URI (RFC 7512), parsed by p11-kit. Fails with a text for
// the command line: a malformed URI, or one that carries its PIN (pin-value),
// since the PIN never goes on a command line.
Result<KeyUri> ParseKeyUri(std::string_view text);

// The update key's Ed25519 private key on a PKCS#11 token, with a logged-in
// session to it. Every failure text says what was found; each means the
// token cannot be used (kestrova-channel's exit code 4). The session is
// closed and the module finalised and unloaded on every path.
class TokenKey {
 public:
  // Loads the module, finds the one token and the one private key that the
  // URI matches, checks that it is an Ed25519 key with an 8-byte ID on a
  // token with CKM_EDDSA, and logs in: with the PIN of the URI's pin-source
  // if it has one, else of the environment variable KESTROVA_SIGN_PIN, or
  // through the token's PIN pad when it has one.
  static Result<TokenKey> Open(const std::string& modulePath, const KeyUri& uri);

  TokenKey(TokenKey&&) noexcept;
  TokenKey& operator=(TokenKey&&) = delete;
  TokenKey(const TokenKey&) = delete;
  TokenKey& operator=(const TokenKey&) = delete;
  ~TokenKey();

  // The key's CKA_ID, as minisign prints a key ID: most significant byte
  // first. Key lines and signatures carry these bytes reversed.
  const std::array<std::uint8_t, 8>& id() const { return id_; }
  // "LABEL (ID HEX)", for messages.
  const std::string& name() const { return name_; }

  // The key's public half, from the token's public-key object of the same ID.
  Result<std::array<std::uint8_t, 32>> PublicKey() const;

  // An Ed25519 signature of message (CKM_EDDSA) made by the token.
  Result<std::array<std::uint8_t, 64>> Sign(std::span<const std::uint8_t> message) const;

  // The module, the session and the key's handle; defined in the source.
  struct Session;

 private:
  explicit TokenKey(std::unique_ptr<Session> session);

  std::unique_ptr<Session> session_;
  std::array<std::uint8_t, 8> id_{};
  std::string name_;
};

}  // namespace kestrova::channel
