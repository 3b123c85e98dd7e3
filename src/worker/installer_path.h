#pragma once

#include <string>
#include <string_view>

namespace kestrova {

// The installer's file name in the temporary folder.
inline constexpr std::u16string_view kInstallerFileName = u"KestrovaAI-install.exe";

// The installer's path in folder (as Windows reports it, UTF-16): a "\" is
// put between the two unless the folder already ends in "\" or "/".
std::u16string InstallerPathIn(std::u16string_view folder);

}  // namespace kestrova
