#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/channel/curl_fetch.h"

namespace kestrova::channel {

// The longest a cache should keep the channel document: beyond it, a cache
// may go on serving an old document beside a new installer, or the reverse.
inline constexpr long long kMaxChannelCacheSeconds = 300;

// What the channel document's response lets caches do that they should not:
// keep it longer than kMaxChannelCacheSeconds (Cache-Control s-maxage or
// max-age, else Expires against Date, or now when there is no Date), or
// choose its lifetime themselves (no lifetime given at all). now is the time
// of the response.
std::vector<std::string> ChannelCacheWarnings(const ResponseFacts& response, std::time_t now);

// A warning when the installer's response may be cached (no no-store,
// no-cache, private or max-age=0) but its name does not carry the first 16
// hexadecimal digits of its SHA-256: a cache can then serve old bytes under a
// name that new bytes were given.
std::optional<std::string> InstallerCacheWarning(std::string_view url,
                                                 const ResponseFacts& response,
                                                 std::string_view sha256Hex);

}  // namespace kestrova::channel
