#pragma once

// Signs test data the way minisign's prehashed mode does, with a key pair
// made for the test: gives the Base64 public-key file and the Base64
// signature file that SignatureVerifier::Create takes.

#include <sodium.h>

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kestrova::test {

inline std::string Base64(std::span<const std::uint8_t> bytes) {
  std::string text(sodium_base64_encoded_len(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(text.data(), text.size(), bytes.data(), bytes.size(),
                    sodium_base64_VARIANT_ORIGINAL);
  text.resize(text.size() - 1);
  return text;
}

inline std::string Base64(std::string_view text) {
  return Base64({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

struct TestSigner {
  std::array<std::uint8_t, crypto_sign_PUBLICKEYBYTES> publicKey{};
  std::array<std::uint8_t, crypto_sign_SECRETKEYBYTES> secretKey{};
  std::array<std::uint8_t, 8> keyId{1, 2, 3, 4, 5, 6, 7, 8};

  TestSigner() {
    if (sodium_init() < 0) return;
    crypto_sign_keypair(publicKey.data(), secretKey.data());
  }

  // Base64 of the two-line public-key file.
  std::string PublicKeyBase64() const {
    std::string key = "Ed";
    key.append(reinterpret_cast<const char*>(keyId.data()), keyId.size());
    key.append(reinterpret_cast<const char*>(publicKey.data()), publicKey.size());
    return Base64("untrusted comment: minisign public key of a test\n" + Base64(key) + "\n");
  }

  // Base64 of the signature file of data.
  std::string SignatureBase64(std::span<const std::uint8_t> data) const {
    std::array<std::uint8_t, crypto_generichash_BYTES_MAX> hash{};
    crypto_generichash(hash.data(), hash.size(), data.data(), data.size(), nullptr, 0);
    std::array<std::uint8_t, crypto_sign_BYTES> signature{};
    crypto_sign_detached(signature.data(), nullptr, hash.data(), hash.size(), secretKey.data());
    const std::string comment = "timestamp:0\tfile:test.bin\thashed";
    std::string global(reinterpret_cast<const char*>(signature.data()), signature.size());
    global += comment;
    std::array<std::uint8_t, crypto_sign_BYTES> globalSignature{};
    crypto_sign_detached(globalSignature.data(), nullptr,
                         reinterpret_cast<const std::uint8_t*>(global.data()), global.size(),
                         secretKey.data());
    std::string line = "ED";
    line.append(reinterpret_cast<const char*>(keyId.data()), keyId.size());
    line.append(reinterpret_cast<const char*>(signature.data()), signature.size());
    return Base64("untrusted comment: signature of a test\n" + Base64(line) +
                  "\ntrusted comment: " + comment + "\n" + Base64(globalSignature) + "\n");
  }
};

}  // namespace kestrova::test
