#include "signature/minisign_signature.h"

#include <algorithm>

#include "signature/minisign_error.h"
#include "signature/minisign_lines.h"
#include "signature/strict_base64.h"

namespace kestrova {
namespace {

constexpr std::size_t kSignatureLineBytes = 74;
constexpr std::string_view kTrustedCommentPrefix = "trusted comment: ";

}  // namespace

Result<MinisignSignature> DecodeMinisignSignature(std::string_view text) {
  const auto lines = FirstLines(text, 4);
  if (lines.size() < 4) {
    return TextFailure(kMinisignInvalidEncoding);
  }
  const auto signatureLine = DecodeStrictBase64(lines[1]);
  if (!signatureLine || signatureLine->size() != kSignatureLineBytes) {
    return TextFailure(kMinisignInvalidEncoding);
  }
  MinisignSignature signature;
  const auto globalLine = DecodeStrictBase64(lines[3]);
  if (!globalLine || globalLine->size() != signature.globalSignature.size()) {
    return TextFailure(kMinisignInvalidEncoding);
  }
  if (!lines[2].starts_with(kTrustedCommentPrefix)) {
    return TextFailure(kMinisignInvalidEncoding);
  }

  const std::uint8_t* next = signatureLine->data();
  std::copy_n(next, signature.algorithm.size(), signature.algorithm.begin());
  next += signature.algorithm.size();
  std::copy_n(next, signature.keyId.size(), signature.keyId.begin());
  next += signature.keyId.size();
  std::copy_n(next, signature.signature.size(), signature.signature.begin());
  std::copy_n(globalLine->data(), signature.globalSignature.size(),
              signature.globalSignature.begin());

  if (signature.algorithm[0] != 'E' ||
      (signature.algorithm[1] != 'd' && signature.algorithm[1] != 'D')) {
    return TextFailure(kMinisignUnsupportedAlgorithm);
  }
  signature.prehashed = signature.algorithm[1] == 'D';
  signature.untrustedComment = std::string(lines[0]);
  signature.trustedComment = std::string(lines[2].substr(kTrustedCommentPrefix.size()));
  return signature;
}

}  // namespace kestrova
