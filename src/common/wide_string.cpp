#include "common/wide_string.h"

#include <windows.h>

#include <climits>

namespace kestrova {
namespace {

// MultiByteToWideChar takes an int length: long texts go in pieces that end
// on a UTF-8 character boundary.
constexpr std::size_t kPiece = std::size_t{1} << 30;

std::size_t PieceLength(std::string_view rest) {
  if (rest.size() <= kPiece) return rest.size();
  std::size_t length = kPiece;
  while (length > kPiece - 4 && (static_cast<unsigned char>(rest[length]) & 0xC0) == 0x80) {
    --length;
  }
  return length;
}

void AppendPiece(std::wstring& out, std::string_view piece) {
  const int bytes = static_cast<int>(piece.size());
  const int units = MultiByteToWideChar(CP_UTF8, 0, piece.data(), bytes, nullptr, 0);
  if (units <= 0) return;
  const std::size_t start = out.size();
  out.resize(start + static_cast<std::size_t>(units));
  MultiByteToWideChar(CP_UTF8, 0, piece.data(), bytes, out.data() + start, units);
}

}  // namespace

WideString::WideString(std::string_view utf8) {
  while (!utf8.empty()) {
    const std::size_t length = PieceLength(utf8);
    AppendPiece(text_, utf8.substr(0, length));
    utf8.remove_prefix(length);
  }
}

}  // namespace kestrova
