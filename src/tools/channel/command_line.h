#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

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
//                        [--resolve HOST:PORT:ADDRESS]... [--json]
struct CheckOptions {
  std::string channel;  // the program's own channel address unless given
  std::optional<std::string> publicKey;
  std::optional<std::string> keep;
  std::vector<std::string> resolve;  // as curl's --resolve, for both fetches
  bool json = false;                 // the report as one JSON document
};

// kestrova-channel publish --root DIR --installer FILE --signature FILE.minisig
//                          --base-url https://HOST[/PATH] [--public-key KEY]
struct PublishOptions {
  std::string root;  // the web root that baseUrl serves
  std::string installer;
  std::string signature;
  std::string baseUrl;
  std::optional<std::string> publicKey;
};

// kestrova-channel rollback --root DIR [--public-key KEY]
struct RollbackOptions {
  std::string root;
  std::optional<std::string> publicKey;
};

// The update key on a PKCS#11 token: its module and the key's URI.
struct TokenOptions {
  std::string module;
  std::string keyUri;
};

// kestrova-channel public-key --pkcs11-module MODULE --key URI [--out FILE.pub]
struct PublicKeyOptions {
  TokenOptions token;
  std::optional<std::string> out;
};

// kestrova-channel sign --installer FILE --pkcs11-module MODULE --key URI
//                       [--signature FILE.minisig] [--trusted-comment TEXT]
//                       [--public-key KEY]
struct SignOptions {
  std::string installer;
  TokenOptions token;
  std::string signature;  // FILE.minisig unless given
  std::optional<std::string> trustedComment;
  std::optional<std::string> publicKey;
};

// kestrova-channel --help (or help, or -h)
struct HelpRequest {};

using Command = std::variant<MakeOptions, CheckOptions, PublishOptions, RollbackOptions,
                             PublicKeyOptions, SignOptions, HelpRequest>;

// The command that the arguments after the program's name ask for. Options
// take their value as the next argument or after "=". A failure's text says
// what is wrong with the command line.
Result<Command> ParseCommandLine(std::span<const std::string_view> arguments);

// The help text: the commands, their options, the output and the exit codes.
std::string HelpText();

}  // namespace kestrova::channel
