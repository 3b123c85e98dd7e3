#pragma once

// What the fuzz targets share: reporting a broken check, and the canonical
// Base64 text of some bytes.
#include <sodium.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

// Ends the run as a finding: libFuzzer keeps the input that got here.
[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

// Standard Base64 with "=" padding, without line breaks.
inline std::string Encode(std::string_view bytes) {
  std::string text(sodium_base64_encoded_len(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(text.data(), text.size(), reinterpret_cast<const unsigned char*>(bytes.data()),
                    bytes.size(), sodium_base64_VARIANT_ORIGINAL);
  text.pop_back();  // the terminating zero
  return text;
}
