#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrova::channel {

// What a signature says about itself, for the verdict and for advice.
struct SignatureFacts {
  std::string keyId;  // as minisign prints it
  std::string trustedComment;
};

// The facts of a signature given as the channel gives it (Base64 of the
// signature file); nothing when the program cannot read it.
std::optional<SignatureFacts> ReadSignatureFacts(std::string_view signatureBase64);

}  // namespace kestrova::channel
