#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/result.h"

namespace kestrova::channel {

// The channel document with platforms → windows-x86_64 → url and signature
// set to the given texts. Without an existing document it is a new one of
// just that; an existing one keeps every other member with its value and
// its place, a new member going after the others. The text is JSON indented
// by two spaces, UTF-8 as it is (no \u escapes), ending in a line feed;
// the members' values are written anew, so their spelling (spaces, escapes,
// number forms such as 1E2 for 100.0) may change, not their values.
//
// Fails when the existing document is not readable by the program's reader
// ("канал обновлений не читается", with the reason), or when its top level,
// platforms or windows-x86_64 is there but not an object.
Result<std::string> PutInstallerEntry(const std::optional<std::string>& existing,
                                      std::string_view url, std::string_view signature);

}  // namespace kestrova::channel
