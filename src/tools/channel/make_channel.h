#pragma once

#include <ostream>

#include "tools/channel/command_line.h"
#include "tools/channel/exit_code.h"

namespace kestrova::channel {

// kestrova-channel make: verifies the installer against its signature file
// and the key with the program's verifier, then writes the channel document.
// The verdict line goes to out, explanations to err.
ExitCode RunMake(const MakeOptions& options, std::ostream& out, std::ostream& err);

// Whether url is an https address: the scheme (any letter case), "://", a
// host, and no spaces or control characters.
bool IsHttpsAddress(std::string_view url);

}  // namespace kestrova::channel
