#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrova::channel {

// The files of a web root that publish fills and rollback turns back:
//   ROOT/updates/kestrova-desk/latest.json           the channel document
//   ROOT/updates/kestrova-desk/latest.json.previous  the one it replaced
//   ROOT/dl/NAME-HHHHHHHHHHHHHHHH.EXT                every installer published,
//                                                    named after its content
struct WebRoot {
  std::string root;  // as given, without trailing slashes
  std::string channelFolder;
  std::string channel;
  std::string previous;
  std::string installers;  // ROOT/dl
};

WebRoot WebRootAt(std::string_view root);

// The name an installer is published under: its file name with "-" and the
// first 16 hexadecimal digits of its SHA-256 before the extension (after the
// last dot that does not begin the name): setup.exe -> setup-1a2b...81.exe.
std::string ContentName(std::string_view fileName, std::string_view sha256Hex);

// Whether a file name carries these 16 hexadecimal digits.
bool IsContentNamed(std::string_view fileName, std::string_view sha256Hex);

// The last segment of a URL's path (no query, no fragment), percent-decoded.
std::string UrlFileName(std::string_view url);

// The text with every byte outside A-Z a-z 0-9 - . _ ~ written as %XX.
std::string PercentEncode(std::string_view text);

// The name of the installer in ROOT/dl that a published address names: the
// address must end in "/dl/NAME", NAME a plain file name once decoded (no
// slash, no NUL, not "." or ".."). Nothing for any other address.
std::optional<std::string> PublishedInstallerName(std::string_view url);

}  // namespace kestrova::channel
