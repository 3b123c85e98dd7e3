#pragma once

#include <ostream>

#include "tools/channel/command_line.h"
#include "tools/channel/exit_code.h"

namespace kestrova::channel {

// kestrova-channel check: what a user's run does, from the channel to the
// verdict, with the program's reader, verifier and failure texts. The verdict
// line goes to out, curl's messages to err, the progress bar to stderr when it
// is a terminal.
ExitCode RunCheck(const CheckOptions& options, std::ostream& out, std::ostream& err);

}  // namespace kestrova::channel
