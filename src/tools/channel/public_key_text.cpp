#include "tools/channel/public_key_text.h"

#include <algorithm>

#include "signature/base64_text.h"
#include "signature/embedded_public_key.h"
#include "signature/minisign_public_key.h"
#include "tools/channel/base64_encode.h"

namespace kestrova::channel {

Result<std::string> PublicKeyFromLine(std::string_view keyLine) {
  // One line only: a line break would make the key file say something else.
  if (keyLine.find_first_of("\r\n") != std::string_view::npos) {
    return Failure{"the key is more than one line"};
  }
  const std::string file = "untrusted comment: minisign public key given on the command line\n" +
                           std::string(keyLine) + "\n";
  if (auto key = DecodeMinisignPublicKey(file); !key.ok()) {
    return key.failure();
  }
  return EncodeBase64(file);
}

std::string ChosenPublicKey(const std::optional<std::string>& keyLine, std::ostream& err) {
  if (!keyLine) return std::string(EmbeddedPublicKey());
  auto key = PublicKeyFromLine(*keyLine);
  if (!key.ok()) {
    err << "kestrova-channel: --public-key: " << key.failure().text << "\n";
    return {};
  }
  return std::move(key.value());
}

std::string KeyIdText(const std::array<std::uint8_t, 8>& keyId) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (auto byte = keyId.rbegin(); byte != keyId.rend(); ++byte) {
    text += kDigits[*byte >> 4];
    text += kDigits[*byte & 0xF];
  }
  // minisign writes the identifier as a number: no leading zeros, "0" for 0.
  text.erase(0, std::min(text.find_first_not_of('0'), text.size() - 1));
  return text;
}

std::string KeyIdOfPublicKey(std::string_view publicKeyBase64) {
  auto text = DecodeBase64Text(publicKeyBase64);
  if (!text.ok()) return {};
  auto key = DecodeMinisignPublicKey(text.value());
  return key.ok() ? KeyIdText(key.value().keyId) : std::string();
}

}  // namespace kestrova::channel
