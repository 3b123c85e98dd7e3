#include "tools/channel/channel_json.h"

#include <nlohmann/json.hpp>

#include "worker/channel_document.h"

namespace kestrova::channel {
namespace {

// Keeps the members in the order the document gives them.
using Json = nlohmann::ordered_json;

// The member name as an object, made when missing; nothing when the member is
// there but something else (null included).
Json* ObjectMember(Json& parent, const char* name) {
  const auto found = parent.find(name);
  if (found == parent.end()) return &(parent[name] = Json::object());
  return found->is_object() ? &*found : nullptr;
}

}  // namespace

Result<std::string> PutInstallerEntry(const std::optional<std::string>& existing,
                                      std::string_view url, std::string_view signature) {
  Json document = Json::object();
  if (existing) {
    // The program's reader decides what is readable (no byte-order mark,
    // nesting, numbers in range); only then is the text parsed to be kept.
    auto entry = ReadChannelDocument(*existing);
    if (!entry.ok() && entry.failure().text == kUnreadableChannelText) {
      return Failure{std::string(kUnreadableChannelText) +
                     " (not one strict JSON text; fix it or remove the file)"};
    }
    document = Json::parse(*existing, nullptr, /*allow_exceptions=*/false);
    if (document.is_discarded()) {
      return Failure{std::string(kUnreadableChannelText)};
    }
    if (!document.is_object()) {
      return Failure{"the document is not a JSON object"};
    }
  }
  Json* platforms = ObjectMember(document, "platforms");
  if (platforms == nullptr) return Failure{"its member platforms is not an object"};
  Json* windows = ObjectMember(*platforms, "windows-x86_64");
  if (windows == nullptr) return Failure{"platforms → windows-x86_64 is not an object"};
  (*windows)["url"] = std::string(url);
  (*windows)["signature"] = std::string(signature);
  try {
    return document.dump(2, ' ', /*ensure_ascii=*/false) + "\n";
  } catch (const Json::type_error&) {
    return Failure{"the address is not valid UTF-8"};
  }
}

}  // namespace kestrova::channel
