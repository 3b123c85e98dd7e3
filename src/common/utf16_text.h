#pragma once

#include <string>
#include <string_view>

namespace kestrova {

// UTF-16 (as Windows gives paths) to UTF-8. Each unpaired surrogate becomes
// U+FFFD REPLACEMENT CHARACTER, one per surrogate.
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace kestrova
