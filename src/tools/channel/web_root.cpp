#include "tools/channel/web_root.h"

namespace kestrova::channel {
namespace {

constexpr std::string_view kHexDigits = "0123456789ABCDEF";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The URL's path: after the scheme and authority, before any query or
// fragment.
std::string_view UrlPath(std::string_view url) {
  url = url.substr(0, url.find_first_of("?#"));
  const auto scheme = url.find("://");
  if (scheme == std::string_view::npos) return url;
  const auto path = url.find('/', scheme + 3);
  return path == std::string_view::npos ? std::string_view() : url.substr(path);
}

// Percent-decoding; nothing when a % is not followed by two hexadecimal
// digits.
std::optional<std::string> PercentDecode(std::string_view text) {
  std::string decoded;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      decoded += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    const int high = HexValue(text[i + 1]);
    const int low = HexValue(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    decoded += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return decoded;
}

}  // namespace

WebRoot WebRootAt(std::string_view root) {
  while (root.size() > 1 && root.back() == '/') root.remove_suffix(1);
  WebRoot web;
  web.root = std::string(root);
  web.channelFolder = web.root + "/updates/kestrova-desk";
  web.channel = web.channelFolder + "/latest.json";
  web.previous = web.channel + ".previous";
  web.installers = web.root + "/dl";
  return web;
}

std::string ContentName(std::string_view fileName, std::string_view sha256Hex) {
  const std::string tag = "-" + std::string(sha256Hex.substr(0, 16));
  const auto dot = fileName.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return std::string(fileName) + tag;
  return std::string(fileName.substr(0, dot)) + tag + std::string(fileName.substr(dot));
}

bool IsContentNamed(std::string_view fileName, std::string_view sha256Hex) {
  const std::string_view digits = sha256Hex.substr(0, 16);
  return digits.size() == 16 && fileName.find(digits) != std::string_view::npos;
}

std::string UrlFileName(std::string_view url) {
  const std::string_view path = UrlPath(url);
  const std::string_view last = path.substr(path.rfind('/') + 1);
  return PercentDecode(last).value_or(std::string(last));
}

std::string PercentEncode(std::string_view text) {
  std::string encoded;
  for (unsigned char c : text) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '.' || c == '_' || c == '~';
    if (plain) {
      encoded += static_cast<char>(c);
    } else {
      encoded += '%';
      encoded += kHexDigits[c >> 4];
      encoded += kHexDigits[c & 0xF];
    }
  }
  return encoded;
}

std::optional<std::string> PublishedInstallerName(std::string_view url) {
  if (url.find_first_of("?#") != std::string_view::npos) return std::nullopt;
  const std::string_view path = UrlPath(url);
  const auto slash = path.rfind('/');
  if (slash == std::string_view::npos || slash < 3 || path.substr(slash - 3, 4) != "/dl/") {
    return std::nullopt;
  }
  auto name = PercentDecode(path.substr(slash + 1));
  if (!name || name->empty() || *name == "." || *name == ".." ||
      name->find_first_of(std::string_view("/\0", 2)) != std::string::npos) {
    return std::nullopt;
  }
  return name;
}

}  // namespace kestrova::channel
