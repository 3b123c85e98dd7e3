// Decodes any bytes as a Base64 text, and checks the decoder against
// references written here: what it accepts encodes back to the trimmed text
// and is well-formed UTF-8; and the canonical encoding of any well-formed
// UTF-8 text (the same input) with whitespace around it decodes to that text.
#include <sodium.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "signature/base64_text.h"
#include "signature/unicode_text.h"

namespace {

// Well-formed UTF-8 after the table of well-formed byte sequences in the
// Unicode standard (chapter 3, table 3-7).
bool IsWellFormedUtf8(std::string_view text) {
  std::size_t i = 0;
  const auto byte = [&text](std::size_t at) { return static_cast<std::uint8_t>(text[at]); };
  const auto within = [&](std::size_t at, std::uint8_t low, std::uint8_t high) {
    return at < text.size() && byte(at) >= low && byte(at) <= high;
  };
  while (i < text.size()) {
    const std::uint8_t lead = byte(i);
    if (lead <= 0x7F) {
      i += 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      if (!within(i + 1, 0x80, 0xBF)) return false;
      i += 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      const std::uint8_t low = lead == 0xE0 ? 0xA0 : 0x80;
      const std::uint8_t high = lead == 0xED ? 0x9F : 0xBF;
      if (!within(i + 1, low, high) || !within(i + 2, 0x80, 0xBF)) return false;
      i += 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      const std::uint8_t low = lead == 0xF0 ? 0x90 : 0x80;
      const std::uint8_t high = lead == 0xF4 ? 0x8F : 0xBF;
      if (!within(i + 1, low, high) || !within(i + 2, 0x80, 0xBF) || !within(i + 3, 0x80, 0xBF)) {
        return false;
      }
      i += 4;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  // The input as a Base64 text.
  const auto decoded = kestrova::DecodeBase64Text(input);
  if (decoded.ok()) {
    if (Encode(decoded.value()) != kestrova::TrimWhiteSpace(input)) {
      Fail("accepted a text that is not the canonical encoding of what it gave");
    }
    if (!IsWellFormedUtf8(decoded.value())) {
      Fail("accepted bytes that are not well-formed UTF-8");
    }
  } else if (decoded.failure().text != kestrova::kUnreadableSignatureText) {
    Fail("unexpected failure text");
  }

  // The input as the bytes of a text to encode.
  if (kestrova::IsValidUtf8(input) != IsWellFormedUtf8(input)) {
    Fail("the UTF-8 check disagrees with the table of well-formed sequences");
  }
  if (IsWellFormedUtf8(input)) {
    const auto again =
        kestrova::DecodeBase64Text(" \r\n\xE3\x80\x80" + Encode(input) + "\t\xC2\xA0");
    if (!again.ok() || again.value() != input) {
      Fail("the encoding of a UTF-8 text did not decode to it");
    }
  }
  return 0;
}
