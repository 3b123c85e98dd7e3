#pragma once

#include <sodium.h>

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/result.h"

namespace kestrova {

inline constexpr std::string_view kSignatureMismatchText =
    "подпись установщика не сошлась, файл испорчен или подменен";

// Checks a minisign signature (prehashed mode) of a stream of bytes against a
// public key: the bytes are hashed as they arrive, the signature is tested at
// the end. Memory stays the same whatever the amount of data.
class SignatureVerifier {
 public:
  // Decodes the built-in key and the signature text (Base64 of a minisign
  // signature file) and starts the verification.
  static Result<SignatureVerifier> Create(std::string_view signatureText);
  // The same with another public key, given like the built-in one: Base64 of
  // the two-line public-key file.
  static Result<SignatureVerifier> Create(std::string_view signatureText,
                                          std::string_view publicKeyBase64);
  // The same for data whose bytes so far were hashed into `hashed` already
  // (BLAKE2b-512, as Update hashes them): the verification goes on from there.
  static Result<SignatureVerifier> Resume(std::string_view signatureText,
                                          std::string_view publicKeyBase64,
                                          const crypto_generichash_state& hashed);

  SignatureVerifier(SignatureVerifier&&) noexcept = default;
  SignatureVerifier& operator=(SignatureVerifier&&) noexcept = default;
  SignatureVerifier(const SignatureVerifier&) = delete;
  SignatureVerifier& operator=(const SignatureVerifier&) = delete;
  ~SignatureVerifier() = default;

  // Hashes the next chunk of the data; chunks of any size, empty ones too.
  void Update(std::span<const std::uint8_t> chunk);

  // Tests the signature over everything fed so far: kSuccess when it holds,
  // else "подпись установщика не сошлась, файл испорчен или подменен".
  Status Finish() &&;

 private:
  SignatureVerifier() = default;

  std::array<std::uint8_t, crypto_sign_PUBLICKEYBYTES> publicKey_{};
  std::array<std::uint8_t, crypto_sign_BYTES> signature_{};
  std::string trustedComment_;
  std::array<std::uint8_t, crypto_sign_BYTES> globalSignature_{};
  crypto_generichash_state hash_{};
};

}  // namespace kestrova
