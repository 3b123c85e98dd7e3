#include "tools/channel/minisign_text.h"

#include <algorithm>

#include "tools/channel/base64_encode.h"
#include "tools/channel/public_key_text.h"

namespace kestrova::channel {
namespace {

template <std::size_t... Sizes>
std::string Concatenated(std::string_view head, const std::array<std::uint8_t, Sizes>&... parts) {
  std::string bytes(head);
  (bytes.append(reinterpret_cast<const char*>(parts.data()), parts.size()), ...);
  return bytes;
}

}  // namespace

std::array<std::uint8_t, 8> MinisignKeyNumber(const std::array<std::uint8_t, 8>& printedOrder) {
  std::array<std::uint8_t, 8> number{};
  std::reverse_copy(printedOrder.begin(), printedOrder.end(), number.begin());
  return number;
}

std::string PublicKeyLine(const std::array<std::uint8_t, 8>& keyNumber,
                          const std::array<std::uint8_t, 32>& key) {
  return EncodeBase64(Concatenated("Ed", keyNumber, key));
}

std::string PublicKeyFileText(const std::array<std::uint8_t, 8>& keyNumber,
                              const std::array<std::uint8_t, 32>& key) {
  return "untrusted comment: minisign public key " + KeyIdText(keyNumber) + "\n" +
         PublicKeyLine(keyNumber, key) + "\n";
}

std::string SignatureFileText(const PrehashedSignature& parts) {
  return "untrusted comment: " + parts.untrustedComment + "\n" +
         EncodeBase64(Concatenated("ED", parts.keyNumber, parts.signature)) + "\n" +
         "trusted comment: " + parts.trustedComment + "\n" +
         EncodeBase64(Concatenated("", parts.globalSignature)) + "\n";
}

std::string DefaultTrustedComment(std::uint64_t seconds, std::string_view path) {
  const auto slash = path.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  return "timestamp:" + std::to_string(seconds) + "\tfile:" + std::string(name) + "\thashed";
}

}  // namespace kestrova::channel
