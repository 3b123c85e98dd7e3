#pragma once

#include <optional>
#include <ostream>

#include "tools/channel/command_line.h"
#include "tools/channel/exit_code.h"
#include "tools/channel/token_key.h"

namespace kestrova::channel {

// The token's key for a command. When it cannot be had, the reason is on
// `err` and `refusal` holds the exit code: kUsage for a faulty URI, kToken
// for everything the token says.
std::optional<TokenKey> OpenCommandKey(const TokenOptions& options, std::ostream& err,
                                       ExitCode& refusal);

// kestrova-channel public-key: the token's key as a minisign .pub file, on
// `out` or into options.out.
ExitCode RunPublicKey(const PublicKeyOptions& options, std::ostream& out, std::ostream& err);

}  // namespace kestrova::channel
