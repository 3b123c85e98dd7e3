#pragma once

#include <string_view>

namespace kestrova {

// The product's web site: the update channel, the product page, the dialog's
// first content text and the text for an unreachable server all name it.
inline constexpr std::string_view kSiteHost = "kestrova.ai";

// The product name: the dialog's window title and the failure box's caption.
inline constexpr std::string_view kProductName = "Kestrova AI";

}  // namespace kestrova
