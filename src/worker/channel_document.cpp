#include "worker/channel_document.h"

#include <nlohmann/json.hpp>

namespace kestrova {
namespace {

using Json = nlohmann::json;

// Arrays and objects nested deeper than this make the document unreadable.
constexpr int kMaxNesting = 127;

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The member of that name, or null when the value is not an object or has no
// such member.
const Json& Member(const Json& value, const char* name) {
  static const Json kNull;
  if (!value.is_object()) {
    return kNull;
  }
  const auto found = value.find(name);
  return found == value.end() ? kNull : *found;
}

using Input =
    decltype(nlohmann::detail::input_adapter(std::string_view().begin(), std::string_view().end()));
using DomBuilder = nlohmann::detail::json_sax_dom_parser<Json>;

// The library's own document builder, with the nesting limit that the parser
// lacks: an array or object opened deeper than the limit stops the parse.
// (Json::parse with a callback would do the same through a second builder and
// a std::function; this way the program carries one builder, about 12 KB less.)
struct NestingLimit : DomBuilder {
  explicit NestingLimit(Json& document) : DomBuilder(document, /*allow_exceptions=*/false) {}

  bool start_object(std::size_t count) {
    return depth++ < kMaxNesting && DomBuilder::start_object(count);
  }
  bool start_array(std::size_t count) {
    return depth++ < kMaxNesting && DomBuilder::start_array(count);
  }
  bool end_object() { return --depth, DomBuilder::end_object(); }
  bool end_array() { return --depth, DomBuilder::end_array(); }

  int depth = 0;  // arrays and objects open
};

}  // namespace

Result<InstallerEntry> ReadChannelDocument(std::string_view body) {
  // The parser would skip a byte-order mark, and it takes a zero byte for the
  // end of its input, ignoring whatever follows. Neither may be in the
  // channel: no JSON text holds a raw zero byte.
  if (body.starts_with(kByteOrderMark) || body.find('\0') != std::string_view::npos) {
    return TextFailure(kUnreadableChannelText);
  }
  // Strict: one JSON text and nothing after it; any error makes it unreadable.
  Json document;
  NestingLimit builder(document);
  auto parser = nlohmann::detail::parser<Json, Input>(
      nlohmann::detail::input_adapter(body.begin(), body.end()), nullptr,
      /*allow_exceptions=*/false, /*skip_comments=*/false);
  if (!parser.sax_parse(&builder, /*strict=*/true)) {
    return TextFailure(kUnreadableChannelText);
  }

  const Json& entry = Member(Member(document, "platforms"), "windows-x86_64");
  const Json& url = Member(entry, "url");
  const Json& signature = Member(entry, "signature");
  if (!url.is_string() || !signature.is_string()) {
    return TextFailure(kNoInstallerText);
  }
  return InstallerEntry{url.get<std::string>(), signature.get<std::string>()};
}

}  // namespace kestrova
