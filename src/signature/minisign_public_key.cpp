#include "signature/minisign_public_key.h"

#include <algorithm>
#include <string>

#include "signature/minisign_error.h"
#include "signature/minisign_lines.h"
#include "signature/strict_base64.h"

namespace kestrova {
namespace {

constexpr std::size_t kKeyLineBytes = 42;

}  // namespace

Result<MinisignPublicKey> DecodeMinisignPublicKey(std::string_view text) {
  const auto lines = FirstLines(text, 2);
  if (lines.size() < 2) {
    return TextFailure(kMinisignInvalidEncoding);
  }
  const auto bytes = DecodeStrictBase64(lines[1]);
  if (!bytes || bytes->size() != kKeyLineBytes) {
    return TextFailure(kMinisignInvalidEncoding);
  }
  MinisignPublicKey key;
  const std::uint8_t* next = bytes->data();
  std::copy_n(next, key.algorithm.size(), key.algorithm.begin());
  next += key.algorithm.size();
  std::copy_n(next, key.keyId.size(), key.keyId.begin());
  next += key.keyId.size();
  std::copy_n(next, key.key.size(), key.key.begin());
  if (key.algorithm[0] != 'E' || (key.algorithm[1] != 'd' && key.algorithm[1] != 'D')) {
    return TextFailure(kMinisignUnsupportedAlgorithm);
  }
  return key;
}

}  // namespace kestrova
