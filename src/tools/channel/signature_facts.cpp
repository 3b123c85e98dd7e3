#include "tools/channel/signature_facts.h"

#include "signature/base64_text.h"
#include "signature/minisign_signature.h"
#include "tools/channel/public_key_text.h"

namespace kestrova::channel {

std::optional<SignatureFacts> ReadSignatureFacts(std::string_view signatureBase64) {
  auto text = DecodeBase64Text(signatureBase64);
  if (!text.ok()) return std::nullopt;
  auto signature = DecodeMinisignSignature(text.value());
  if (!signature.ok()) return std::nullopt;
  return SignatureFacts{KeyIdText(signature.value().keyId), signature.value().trustedComment};
}

}  // namespace kestrova::channel
