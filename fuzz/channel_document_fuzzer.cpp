// Reads any bytes as an update channel body. Beside the sanitizers, the result
// is checked against a plain parse of the same bytes: the nesting limit and
// the byte-order mark and zero-byte refusals are the only differences.
#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz_check.h"
#include "worker/channel_document.h"

namespace {

using Json = nlohmann::json;

// Levels of arrays and objects, the outermost counting as 1; walked without
// recursion.
int Depth(const Json& root) {
  int deepest = 0;
  std::vector<std::pair<const Json*, int>> open{{&root, 1}};
  while (!open.empty()) {
    const auto [value, level] = open.back();
    open.pop_back();
    if (!value->is_structured()) {
      continue;
    }
    deepest = std::max(deepest, level);
    for (const Json& inner : *value) {
      open.emplace_back(&inner, level + 1);
    }
  }
  return deepest;
}

const Json* Member(const Json* value, const char* name) {
  if (value == nullptr || !value->is_object()) {
    return nullptr;
  }
  const auto found = value->find(name);
  return found == value->end() ? nullptr : &*found;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  const auto result = kestrova::ReadChannelDocument(body);

  const bool refusedBeforeParse =
      body.starts_with("\xEF\xBB\xBF") || body.find('\0') != std::string_view::npos;
  const Json plain = Json::parse(body.begin(), body.end(), nullptr, /*allow_exceptions=*/false,
                                 /*ignore_comments=*/false);
  const bool unreadable = refusedBeforeParse || plain.is_discarded() || Depth(plain) > 127;
  if (unreadable) {
    if (result.ok() || result.failure().text != kestrova::kUnreadableChannelText) {
      Fail("an unreadable body was not refused as unreadable");
    }
    return 0;
  }

  const Json* entry = Member(Member(&plain, "platforms"), "windows-x86_64");
  const Json* url = Member(entry, "url");
  const Json* signature = Member(entry, "signature");
  if (url == nullptr || signature == nullptr || !url->is_string() || !signature->is_string()) {
    if (result.ok() || result.failure().text != kestrova::kNoInstallerText) {
      Fail("a readable body without an installer did not say so");
    }
    return 0;
  }
  if (!result.ok()) {
    Fail("a body with an installer entry was refused");
  }
  if (result.value().url != url->get<std::string>() ||
      result.value().signature != signature->get<std::string>()) {
    Fail("the entry read differs from the plain parse's");
  }
  return 0;
}
