#include "tools/channel/base64_encode.h"

#include <sodium.h>

namespace kestrova::channel {

std::string EncodeBase64(std::string_view bytes) {
  constexpr int kVariant = sodium_base64_VARIANT_ORIGINAL;
  std::string text(sodium_base64_encoded_len(bytes.size(), kVariant), '\0');
  sodium_bin2base64(text.data(), text.size(), reinterpret_cast<const unsigned char*>(bytes.data()),
                    bytes.size(), kVariant);
  text.pop_back();  // the terminating zero
  return text;
}

}  // namespace kestrova::channel
