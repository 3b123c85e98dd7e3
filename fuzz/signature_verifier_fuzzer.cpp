// Creates a verifier from a fuzzed signature text and feeds it fuzzed data in
// fuzzed chunks. The input is
//   mode byte | signature text | 0 byte | key text | 0 byte | data
// The mode's two low bits pick the key: 0 and 1 a fixed key made by the
// minisign tool for this build tree (the seeds' signatures are made with it),
// 2 the fuzzed key text, 3 the built-in key; the other six bits seed the chunk
// sizes. Beside the sanitizers: every failure text is one the verifier has,
// and the verdict does not depend on how the data is cut.
#include <sodium.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "signature/base64_text.h"
#include "signature/minisign_error.h"
#include "signature/signature_verifier.h"

namespace {

std::string fixedKey;  // Base64 of the minisign public-key file

// The next field up to a zero byte (or the end), removed from the input.
std::string_view NextField(std::string_view& input) {
  const std::size_t end = std::min(input.find('\0'), input.size());
  const std::string_view field = input.substr(0, end);
  input.remove_prefix(std::min(end + 1, input.size()));
  return field;
}

std::span<const std::uint8_t> Bytes(std::string_view data) {
  return {reinterpret_cast<const std::uint8_t*>(data.data()), data.size()};
}

bool IsCreateFailure(std::string_view text) {
  return text == kestrova::kUnreadableSignatureText || text == kestrova::kMinisignInvalidEncoding ||
         text == kestrova::kMinisignUnsupportedAlgorithm || text == kestrova::kMinisignWrongKey ||
         text == kestrova::kMinisignLegacyMode;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const std::string path = std::string(KESTROVA_FUZZ_SEEDS) + "/keys/fixed.pub";
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    std::fprintf(stderr, "signature_verifier_fuzzer: missing %s\n", path.c_str());
    std::abort();
  }
  fixedKey = Encode(std::string(std::istreambuf_iterator<char>(file), {}));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const std::uint8_t mode = bytes[0];
  std::string_view input(reinterpret_cast<const char*>(bytes) + 1, size - 1);
  const std::string_view signatureText = NextField(input);
  const std::string_view keyText = NextField(input);
  const std::string_view data = input;

  const auto create = [&]() {
    switch (mode & 3) {
      case 2:
        return kestrova::SignatureVerifier::Create(signatureText, keyText);
      case 3:
        return kestrova::SignatureVerifier::Create(signatureText);
      default:
        return kestrova::SignatureVerifier::Create(signatureText, fixedKey);
    }
  };
  auto cut = create();
  if (!cut.ok()) {
    if (!IsCreateFailure(cut.failure().text)) {
      Fail("unexpected failure text of Create");
    }
    return 0;
  }
  auto whole = create();
  if (!whole.ok()) {
    Fail("the same texts gave a verifier once only");
  }

  // Chunk sizes from a small generator seeded by the mode: empty chunks,
  // single bytes and runs across the 128-byte BLAKE2b blocks.
  std::uint32_t state = (mode >> 2) * 2654435761u + 1;
  std::size_t offset = 0;
  while (offset < data.size()) {
    state = state * 1103515245u + 12345u;
    const std::size_t chunk = std::min<std::size_t>((state >> 16) % 300, data.size() - offset);
    cut.value().Update(Bytes(data.substr(offset, chunk)));
    offset += chunk;
  }
  cut.value().Update({});
  whole.value().Update(Bytes(data));

  const kestrova::Status cutVerdict = std::move(cut.value()).Finish();
  const kestrova::Status wholeVerdict = std::move(whole.value()).Finish();
  if (cutVerdict.has_value() != wholeVerdict.has_value()) {
    Fail("the verdict depends on how the data was cut");
  }
  if (cutVerdict && cutVerdict->text != kestrova::kSignatureMismatchText) {
    Fail("unexpected failure text of Finish");
  }
  return 0;
}
