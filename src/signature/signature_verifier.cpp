#include "signature/signature_verifier.h"

#include <vector>

#include "signature/base64_text.h"
#include "signature/embedded_public_key.h"
#include "signature/minisign_error.h"
#include "signature/minisign_public_key.h"
#include "signature/minisign_signature.h"

namespace kestrova {
namespace {

// BLAKE2b-512: the digest that prehashed minisign signatures sign.
constexpr std::size_t kDigestBytes = crypto_generichash_BYTES_MAX;
static_assert(kDigestBytes == 64);

}  // namespace

Result<SignatureVerifier> SignatureVerifier::Create(std::string_view signatureText) {
  return Create(signatureText, EmbeddedPublicKey());
}

Result<SignatureVerifier> SignatureVerifier::Create(std::string_view signatureText,
                                                    std::string_view publicKeyBase64) {
  // No sodium_init(): BLAKE2b, Ed25519 verification and Base64 need neither
  // random numbers nor the library's choice of processor-specific code, and
  // that choice links in every other primitive of the library (about 100 KB of
  // the program). The portable BLAKE2b it then uses is not slower here.
  // The key first, so that a faulty built-in key shows whatever the signature.
  auto keyText = DecodeBase64Text(publicKeyBase64);
  if (!keyText.ok()) {
    return keyText.failure();
  }
  auto key = DecodeMinisignPublicKey(keyText.value());
  if (!key.ok()) {
    return key.failure();
  }
  auto text = DecodeBase64Text(signatureText);
  if (!text.ok()) {
    return text.failure();
  }
  auto signature = DecodeMinisignSignature(text.value());
  if (!signature.ok()) {
    return TextFailure(kUnreadableSignatureText);
  }
  if (signature.value().keyId != key.value().keyId) {
    return TextFailure(kMinisignWrongKey);
  }
  if (!signature.value().prehashed) {
    return TextFailure(kMinisignLegacyMode);
  }

  SignatureVerifier verifier;
  verifier.publicKey_ = key.value().key;
  verifier.signature_ = signature.value().signature;
  verifier.trustedComment_ = std::move(signature.value().trustedComment);
  verifier.globalSignature_ = signature.value().globalSignature;
  crypto_generichash_init(&verifier.hash_, nullptr, 0, kDigestBytes);
  return verifier;
}

void SignatureVerifier::Update(std::span<const std::uint8_t> chunk) {
  if (!chunk.empty()) {
    crypto_generichash_update(&hash_, chunk.data(), chunk.size());
  }
}

Status SignatureVerifier::Finish() && {
  std::array<std::uint8_t, kDigestBytes> digest{};
  crypto_generichash_final(&hash_, digest.data(), digest.size());
  if (crypto_sign_verify_detached(signature_.data(), digest.data(), digest.size(),
                                  publicKey_.data()) != 0) {
    return TextFailure(kSignatureMismatchText);
  }
  // The global signature covers the signature and the trusted comment.
  std::vector<std::uint8_t> signedComment(signature_.begin(), signature_.end());
  signedComment.insert(signedComment.end(), trustedComment_.begin(), trustedComment_.end());
  if (crypto_sign_verify_detached(globalSignature_.data(), signedComment.data(),
                                  signedComment.size(), publicKey_.data()) != 0) {
    return TextFailure(kSignatureMismatchText);
  }
  return kSuccess;
}

}  // namespace kestrova
