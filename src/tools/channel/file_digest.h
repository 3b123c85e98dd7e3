#pragma once

#include <sodium.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

#include "common/result.h"

namespace kestrova::channel {

// A file streamed through BLAKE2b-512, the hash that prehashed minisign
// signatures sign.
struct FileDigest {
  crypto_generichash_state state{};  // everything hashed, not yet finished
  std::array<std::uint8_t, 64> digest{};
  std::uint64_t size = 0;
};

// Reads the open file at path to its end in chunks, the hash running on a
// thread of its own (the reading pipeline of check), with the same memory
// whatever its size. Fails with "PATH: the system's reason".
Result<FileDigest> DigestFile(std::FILE* file, const std::string& path);

}  // namespace kestrova::channel
