#include "signature/embedded_public_key.h"

namespace kestrova {

std::string_view EmbeddedPublicKey() {
#ifdef KESTROVA_PUBLIC_KEY
  return KESTROVA_PUBLIC_KEY;
#else
  // minisign public key E10A3E4AF8FA5CDD; the release team holds its secret half.
  return "dW50cnVzdGVkIGNvbW1lbnQ6IG1pbmlzaWduIHB1YmxpYyBrZXkgRTEwQTNFNEFGOEZBNUNERApSV1RkWFByNFNq"
         "NEs0V1VJaHRXcSs0QlRDZVVNbVJnaXJPTGhqeWZ1Uy95a0hVM0JLd0UzN0hiago=";
#endif
}

}  // namespace kestrova
