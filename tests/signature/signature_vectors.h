#pragma once

// Files that make-signature-vectors wrote for this run with the minisign tool,
// and small helpers to derive altered copies of them.

#include <sodium.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::test {

inline std::string ReadVector(std::string_view name) {
  const std::string path = std::string(KESTROVA_SIGNATURE_VECTORS) + "/" + std::string(name);
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return "<missing " + path + ">";
  }
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline std::string ToBase64(std::string_view bytes) {
  std::string text(sodium_base64_encoded_len(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(text.data(), text.size(), reinterpret_cast<const unsigned char*>(bytes.data()),
                    bytes.size(), sodium_base64_VARIANT_ORIGINAL);
  text.resize(text.size() - 1);  // the terminating zero
  return text;
}

inline std::string FromBase64(std::string_view text) {
  std::string bytes(text.size(), '\0');
  std::size_t size = 0;
  sodium_base642bin(reinterpret_cast<unsigned char*>(bytes.data()), bytes.size(), text.data(),
                    text.size(), nullptr, &size, nullptr, sodium_base64_VARIANT_ORIGINAL);
  bytes.resize(size);
  return bytes;
}

inline std::span<const std::uint8_t> Bytes(std::string_view data) {
  return {reinterpret_cast<const std::uint8_t*>(data.data()), data.size()};
}

// The text split at line feeds, each line without its line feed.
inline std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    if (end == std::string::npos) {
      break;
    }
    start = end + 1;
  }
  return lines;
}

inline std::string JoinLines(const std::vector<std::string>& lines, std::string_view end = "\n") {
  std::string text;
  for (const auto& line : lines) {
    text += line;
    text += end;
  }
  return text;
}

}  // namespace kestrova::test
