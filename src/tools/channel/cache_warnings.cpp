#include "tools/channel/cache_warnings.h"

#include <curl/curl.h>

#include <algorithm>
#include <charconv>

#include "tools/channel/web_root.h"

namespace kestrova::channel {
namespace {

// The directives of a Cache-Control value that tell a lifetime or forbid
// keeping; a number that cannot be read counts as absent.
struct CacheControl {
  std::optional<long long> maxAge;
  std::optional<long long> sharedMaxAge;  // s-maxage
  bool noStore = false;
  bool noCache = false;
  bool isPrivate = false;
};

std::string_view Trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return lower;
}

std::optional<long long> Seconds(std::string_view value) {
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    value = value.substr(1, value.size() - 2);
  }
  long long seconds = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
  if (error != std::errc() || end != value.data() + value.size() || seconds < 0) {
    return std::nullopt;
  }
  return seconds;
}

std::optional<long long> Longer(std::optional<long long> a, std::optional<long long> b) {
  if (!a) return b;
  if (!b) return a;
  return std::max(*a, *b);
}

CacheControl ReadCacheControl(std::string_view value) {
  CacheControl control;
  while (!value.empty()) {
    const auto comma = value.find(',');
    const std::string_view directive = Trimmed(value.substr(0, comma));
    value = comma == std::string_view::npos ? std::string_view() : value.substr(comma + 1);
    const auto equals = directive.find('=');
    const std::string name = Lower(Trimmed(directive.substr(0, equals)));
    const std::string_view argument = equals == std::string_view::npos
                                          ? std::string_view()
                                          : Trimmed(directive.substr(equals + 1));
    // A directive given twice counts with its longer lifetime: caches differ
    // in which one they take.
    if (name == "max-age") control.maxAge = Longer(control.maxAge, Seconds(argument));
    if (name == "s-maxage") control.sharedMaxAge = Longer(control.sharedMaxAge, Seconds(argument));
    if (name == "no-store") control.noStore = true;
    if (name == "no-cache") control.noCache = true;
    if (name == "private") control.isPrivate = true;
  }
  return control;
}

constexpr std::string_view kKeepItShort = "; keep it at 300 s or less";

}  // namespace

std::vector<std::string> ChannelCacheWarnings(const ResponseFacts& response, std::time_t now) {
  const std::string* cacheControl = response.Header("cache-control");
  const CacheControl control = ReadCacheControl(cacheControl ? *cacheControl : "");
  std::vector<std::string> warnings;
  for (auto [directive, seconds] :
       {std::pair{"s-maxage", control.sharedMaxAge}, std::pair{"max-age", control.maxAge}}) {
    if (seconds && *seconds > kMaxChannelCacheSeconds) {
      warnings.push_back("channel document: Cache-Control allows caching for " +
                         std::to_string(*seconds) + " s (" + directive + "=" +
                         std::to_string(*seconds) + ")" + std::string(kKeepItShort));
      return warnings;
    }
  }
  // A lifetime in Cache-Control, or an order not to keep it, overrides Expires.
  if (control.sharedMaxAge || control.maxAge || control.noStore || control.noCache) {
    return warnings;
  }
  if (const std::string* expires = response.Header("expires")) {
    const std::string* date = response.Header("date");
    const std::time_t dated = date ? curl_getdate(date->c_str(), nullptr) : -1;
    const std::time_t until = curl_getdate(expires->c_str(), nullptr);
    // An Expires that cannot be read means "already expired".
    const long long seconds =
        until < 0 ? 0 : static_cast<long long>(until) - (dated < 0 ? now : dated);
    if (seconds > kMaxChannelCacheSeconds) {
      warnings.push_back("channel document: Expires allows caching for " + std::to_string(seconds) +
                         " s" + std::string(kKeepItShort));
    }
    return warnings;
  }
  warnings.push_back(cacheControl
                         ? "channel document: Cache-Control gives no max-age and there is no "
                           "Expires header; caches choose how long to keep it"
                         : "channel document: no Cache-Control or Expires header; caches choose "
                           "how long to keep it");
  return warnings;
}

std::optional<std::string> InstallerCacheWarning(std::string_view url,
                                                 const ResponseFacts& response,
                                                 std::string_view sha256Hex) {
  const std::string* cacheControl = response.Header("cache-control");
  const CacheControl control = ReadCacheControl(cacheControl ? *cacheControl : "");
  const bool neverShared = control.noStore || control.noCache || control.isPrivate ||
                           (control.maxAge == 0 && !control.sharedMaxAge.value_or(0));
  if (neverShared || IsContentNamed(UrlFileName(url), sha256Hex)) return std::nullopt;
  return "installer: " + std::string(url) + " is cacheable but not content-named (its name lacks " +
         std::string(sha256Hex.substr(0, 16)) +
         ", the first 16 hexadecimal digits of its SHA-256); a cache can serve old bytes under it";
}

}  // namespace kestrova::channel
