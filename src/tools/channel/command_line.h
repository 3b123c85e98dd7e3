#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "common/result.h"

namespace kestrova::channel {

// kestrova-channel make --installer FILE --signature FILE.minisig --url URL
//                       [--channel latest.json] [--public-key KEY]
struct MakeOptions {
  std::string installer;
  std::string signature;
  std::string url;
  std::string channel = "latest.json";
  std::optional<std::string> publicKey;  // a key line as minisign -P takes it
};

// kestrova-channel check [--channel URL] [--public-key KEY] [--keep FILE]
struct CheckOptions {
  std::string channel;  // the program's own channel address unless given
  std::optional<std::string> publicKey;
  std::optional<std::string> keep;
};

// kestrova-channel --help (or help, or -h)
struct HelpRequest {};

using Command = std::variant<MakeOptions, CheckOptions, HelpRequest>;

// The command that the arguments after the program's name ask for. Options
// take their value as the next argument or after "=". A failure's text says
// what is wrong with the command line.
Result<Command> ParseCommandLine(std::span<const std::string_view> arguments);

// The help text: both commands, their options, the output and the exit codes.
std::string HelpText();

}  // namespace kestrova::channel
