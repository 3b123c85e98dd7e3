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

}  // namespace

Result<InstallerEntry> ReadChannelDocument(std::string_view body) {
  // The parser would skip a byte-order mark, and it takes a zero byte for the
  // end of its input, ignoring whatever follows. Neither may be in the
  // channel: no JSON text holds a raw zero byte.
  if (body.starts_with(kByteOrderMark) || body.find('\0') != std::string_view::npos) {
    return TextFailure(kUnreadableChannelText);
  }
  // The parser sets no nesting limit of its own. Its callback sees the depth
  // of every array and object it opens (0 for the top level); one opened past
  // the limit marks the text unreadable and is dropped, so that nothing of
  // it is kept while the parse goes on.
  bool tooDeep = false;
  const Json::parser_callback_t limitNesting = [&tooDeep](int depth, Json::parse_event_t event,
                                                          Json&) {
    if ((event == Json::parse_event_t::object_start || event == Json::parse_event_t::array_start) &&
        depth >= kMaxNesting) {
      tooDeep = true;
      return false;
    }
    return true;
  };
  const Json document = Json::parse(body.begin(), body.end(), limitNesting,
                                    /*allow_exceptions=*/false, /*ignore_comments=*/false);
  if (document.is_discarded() || tooDeep) {
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
