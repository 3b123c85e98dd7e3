#pragma once

#include <string_view>

namespace kestrova {

// The product's minisign public key: standard Base64 (152 characters, no
// line breaks) of its two-line public-key file. A build configured with
// KESTROVA_PUBLIC_KEY carries that value instead.
std::string_view EmbeddedPublicKey();

}  // namespace kestrova
