#pragma once

#include <cstdint>
#include <string>

#include "common/result.h"
#include "signature/signature_verifier.h"

namespace kestrova::channel {

// Feeds the file at path through the verifier and counts its bytes; a failure
// is "PATH: the system's reason".
Status FeedFile(const std::string& path, SignatureVerifier& verifier, std::uint64_t& size);

}  // namespace kestrova::channel
