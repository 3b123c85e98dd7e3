#pragma once

#include <ostream>

#include "tools/channel/command_line.h"
#include "tools/channel/exit_code.h"

namespace kestrova::channel {

// kestrova-channel publish: verifies the installer against its signature and
// the key, copies it into ROOT/dl/ under a name of its content (never
// replacing other bytes under a name), then writes the channel document that
// names it, keeping the document it replaces as latest.json.previous. The
// document goes into place last, so that a reader sees the old pair or the
// new one. A refusal leaves ROOT as it was.
ExitCode RunPublish(const PublishOptions& options, std::ostream& out, std::ostream& err);

// kestrova-channel rollback: puts latest.json.previous back, once the
// installer it names is in ROOT/dl/ and verifies; the document it replaces
// becomes latest.json.previous. A refusal leaves ROOT as it was.
ExitCode RunRollback(const RollbackOptions& options, std::ostream& out, std::ostream& err);

}  // namespace kestrova::channel
