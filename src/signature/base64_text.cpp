#include "signature/base64_text.h"

#include "signature/strict_base64.h"
#include "signature/unicode_text.h"

namespace kestrova {

Result<std::string> DecodeBase64Text(std::string_view text) {
  const auto bytes = DecodeStrictBase64(TrimWhiteSpace(text));
  if (!bytes) {
    return TextFailure(kUnreadableSignatureText);
  }
  std::string decoded(bytes->begin(), bytes->end());
  if (!IsValidUtf8(decoded)) {
    return TextFailure(kUnreadableSignatureText);
  }
  return decoded;
}

}  // namespace kestrova
