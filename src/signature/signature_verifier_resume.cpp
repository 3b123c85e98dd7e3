#include "signature/signature_verifier.h"

namespace kestrova {

Result<SignatureVerifier> SignatureVerifier::Resume(std::string_view signatureText,
                                                    std::string_view publicKeyBase64,
                                                    const crypto_generichash_state& hashed) {
  auto verifier = Create(signatureText, publicKeyBase64);
  if (verifier.ok()) verifier.value().hash_ = hashed;
  return verifier;
}

}  // namespace kestrova
