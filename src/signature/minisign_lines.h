#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace kestrova {

// At most the first `count` lines of a minisign text. Lines end at a line
// feed; a carriage return right before it belongs to the line end, so CRLF
// and LF texts give the same lines. A final line feed starts no new line, and
// an empty text has no lines.
std::vector<std::string_view> FirstLines(std::string_view text, std::size_t count);

}  // namespace kestrova
