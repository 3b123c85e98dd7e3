#pragma once

#include <ostream>

#include "tools/channel/command_line.h"
#include "tools/channel/exit_code.h"

namespace kestrova::channel {

// kestrova-channel sign: a prehashed minisign signature of the installer,
// made by the key on a PKCS#11 token and checked with the program's verifier
// before it replaces the signature file. The verdict line goes to out,
// explanations to err.
ExitCode RunSign(const SignOptions& options, std::ostream& out, std::ostream& err);

}  // namespace kestrova::channel
