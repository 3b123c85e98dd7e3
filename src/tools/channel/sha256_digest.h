#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <span>
#include <string>

#include "common/owner.h"

namespace kestrova::channel {

// SHA-256 through OpenSSL, whose code uses the processor's SHA instructions:
// the digest that names a published installer.
class Sha256 {
 public:
  Sha256();
  void Update(std::span<const std::uint8_t> bytes);
  // The digest of everything given, as 64 lower-case hexadecimal digits.
  std::string FinishHex();

 private:
  Owner<EVP_MD_CTX*, &EVP_MD_CTX_free> context_;
};

}  // namespace kestrova::channel
