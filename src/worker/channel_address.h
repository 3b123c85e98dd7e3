#pragma once

#include <string>
#include <string_view>

namespace kestrova {

// The user agent of every request the program makes.
inline constexpr std::string_view kUserAgent = "KestrovaAI-setup";

// The update channel's address: https, the site's host,
// /updates/kestrova-desk/latest.json.
std::string ChannelAddress();

}  // namespace kestrova
