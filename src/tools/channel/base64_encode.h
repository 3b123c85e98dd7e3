#pragma once

#include <string>
#include <string_view>

namespace kestrova::channel {

// Standard Base64 (RFC 4648) with "=" padding, in one line: the form in which
// the channel carries a signature file and the program carries its key.
std::string EncodeBase64(std::string_view bytes);

}  // namespace kestrova::channel
