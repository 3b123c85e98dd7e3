#include "tools/channel/command_line.h"

#include <initializer_list>
#include <map>
#include <vector>

#include "worker/channel_address.h"

namespace kestrova::channel {
namespace {

// Options and their values: each at most once, but for the repeatable ones;
// a flag has no value (an empty text stands for it).
using OptionValues = std::multimap<std::string, std::string, std::less<>>;

bool Contains(std::span<const std::string_view> names, std::string_view name) {
  for (std::string_view option : names) {
    if (option == name) return true;
  }
  return false;
}

Result<OptionValues> ReadOptions(std::span<const std::string_view> arguments,
                                 std::span<const std::string_view> known,
                                 std::span<const std::string_view> repeatable = {},
                                 std::span<const std::string_view> flags = {}) {
  OptionValues values;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string_view argument = arguments[i];
    std::string_view name = argument;
    std::optional<std::string_view> value;
    if (const auto equals = argument.find('='); equals != std::string_view::npos) {
      name = argument.substr(0, equals);
      value = argument.substr(equals + 1);
    }
    const bool isFlag = Contains(flags, name);
    if (!isFlag && !Contains(known, name) && !Contains(repeatable, name)) {
      return Failure{"unknown argument " + std::string(argument)};
    }
    if (isFlag) {
      if (value) return Failure{std::string(name) + " takes no value"};
      value = std::string_view();
    }
    if (!value) {
      if (i + 1 == arguments.size()) return Failure{std::string(name) + " needs a value"};
      value = arguments[++i];
    }
    if (!Contains(repeatable, name) && values.count(name) != 0) {
      return Failure{std::string(name) + " is given twice"};
    }
    values.emplace(std::string(name), std::string(*value));
  }
  return values;
}

std::optional<std::string> Take(OptionValues& values, std::string_view name) {
  const auto found = values.find(name);
  if (found == values.end()) return std::nullopt;
  return found->second;
}

// Moves each required option's value into its field, in order; a missing
// one fails with "COMMAND needs NAME".
Status TakeRequired(OptionValues& values, std::string_view command,
                    std::initializer_list<std::pair<const char*, std::string*>> fields) {
  for (auto [name, field] : fields) {
    auto value = Take(values, name);
    if (!value) return Failure{std::string(command) + " needs " + name};
    *field = std::move(*value);
  }
  return kSuccess;
}

// Every value of a repeatable option, in the order given.
std::vector<std::string> TakeAll(OptionValues& values, std::string_view name) {
  std::vector<std::string> all;
  const auto [first, last] = values.equal_range(name);
  for (auto it = first; it != last; ++it) all.push_back(it->second);
  return all;
}

Result<Command> ParseMake(std::span<const std::string_view> arguments) {
  static constexpr std::string_view kKnown[] = {"--installer", "--signature", "--url", "--channel",
                                                "--public-key"};
  auto values = ReadOptions(arguments, kKnown);
  if (!values.ok()) return values.failure();
  MakeOptions options;
  if (Status missing = TakeRequired(values.value(), "make",
                                    {{"--installer", &options.installer},
                                     {"--signature", &options.signature},
                                     {"--url", &options.url}})) {
    return *missing;
  }
  if (auto channel = Take(values.value(), "--channel")) options.channel = std::move(*channel);
  options.publicKey = Take(values.value(), "--public-key");
  return Command{std::move(options)};
}

// curl's HOST:PORT:ADDRESS[,ADDRESS]...: a host, a port number and an
// address (an IPv6 one in brackets); curl judges the addresses themselves.
bool IsResolveEntry(std::string_view entry) {
  const auto first = entry.find(':');
  if (first == 0 || first == std::string_view::npos) return false;
  const auto second = entry.find(':', first + 1);
  if (second == std::string_view::npos || second + 1 == entry.size()) return false;
  const std::string_view port = entry.substr(first + 1, second - first - 1);
  if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != port.npos) {
    return false;
  }
  const int number = std::stoi(std::string(port));
  return number >= 1 && number <= 65535;
}

Result<Command> ParseCheck(std::span<const std::string_view> arguments) {
  static constexpr std::string_view kKnown[] = {"--channel", "--public-key", "--keep"};
  static constexpr std::string_view kRepeatable[] = {"--resolve"};
  static constexpr std::string_view kFlags[] = {"--json"};
  auto values = ReadOptions(arguments, kKnown, kRepeatable, kFlags);
  if (!values.ok()) return values.failure();
  CheckOptions options;
  options.channel = Take(values.value(), "--channel").value_or(ChannelAddress());
  options.publicKey = Take(values.value(), "--public-key");
  options.keep = Take(values.value(), "--keep");
  options.resolve = TakeAll(values.value(), "--resolve");
  for (const std::string& entry : options.resolve) {
    if (!IsResolveEntry(entry)) return Failure{"--resolve " + entry + ": not HOST:PORT:ADDRESS"};
  }
  options.json = Take(values.value(), "--json").has_value();
  return Command{std::move(options)};
}

Result<Command> ParsePublish(std::span<const std::string_view> arguments) {
  static constexpr std::string_view kKnown[] = {"--root", "--installer", "--signature",
                                                "--base-url", "--public-key"};
  auto values = ReadOptions(arguments, kKnown);
  if (!values.ok()) return values.failure();
  PublishOptions options;
  if (Status missing = TakeRequired(values.value(), "publish",
                                    {{"--root", &options.root},
                                     {"--installer", &options.installer},
                                     {"--signature", &options.signature},
                                     {"--base-url", &options.baseUrl}})) {
    return *missing;
  }
  if (options.baseUrl.find_first_of("?#") != std::string::npos) {
    return Failure{"--base-url " + options.baseUrl +
                   ": no query or fragment; it is https://HOST[/PATH], the address of --root"};
  }
  options.publicKey = Take(values.value(), "--public-key");
  return Command{std::move(options)};
}

Result<Command> ParseRollback(std::span<const std::string_view> arguments) {
  static constexpr std::string_view kKnown[] = {"--root", "--public-key"};
  auto values = ReadOptions(arguments, kKnown);
  if (!values.ok()) return values.failure();
  RollbackOptions options;
  if (Status missing = TakeRequired(values.value(), "rollback", {{"--root", &options.root}})) {
    return *missing;
  }
  options.publicKey = Take(values.value(), "--public-key");
  return Command{std::move(options)};
}

Result<TokenOptions> TakeToken(OptionValues& values, std::string_view command) {
  TokenOptions token;
  if (Status missing = TakeRequired(
          values, command, {{"--pkcs11-module", &token.module}, {"--key", &token.keyUri}})) {
    return *missing;
  }
  return token;
}

Result<Command> ParsePublicKey(std::span<const std::string_view> arguments) {
  static constexpr std::string_view kKnown[] = {"--pkcs11-module", "--key", "--out"};
  auto values = ReadOptions(arguments, kKnown);
  if (!values.ok()) return values.failure();
  auto token = TakeToken(values.value(), "public-key");
  if (!token.ok()) return token.failure();
  return Command{PublicKeyOptions{std::move(token.value()), Take(values.value(), "--out")}};
}

Result<Command> ParseSign(std::span<const std::string_view> arguments) {
  static constexpr std::string_view kKnown[] = {"--installer",  "--pkcs11-module",
                                                "--key",        "--signature",
                                                "--public-key", "--trusted-comment"};
  auto values = ReadOptions(arguments, kKnown);
  if (!values.ok()) return values.failure();
  SignOptions options;
  if (Status missing =
          TakeRequired(values.value(), "sign", {{"--installer", &options.installer}})) {
    return *missing;
  }
  auto token = TakeToken(values.value(), "sign");
  if (!token.ok()) return token.failure();
  options.token = std::move(token.value());
  options.signature = Take(values.value(), "--signature").value_or(options.installer + ".minisig");
  options.trustedComment = Take(values.value(), "--trusted-comment");
  // The comment is one line of the signature file.
  if (options.trustedComment &&
      options.trustedComment->find_first_of("\r\n") != std::string::npos) {
    return Failure{"--trusted-comment must be one line"};
  }
  options.publicKey = Take(values.value(), "--public-key");
  return Command{std::move(options)};
}

}  // namespace

Result<Command> ParseCommandLine(std::span<const std::string_view> arguments) {
  if (arguments.empty()) return Failure{"no command given"};
  const std::string_view command = arguments.front();
  const auto rest = arguments.subspan(1);
  for (std::string_view argument : arguments) {
    if (argument == "--help" || argument == "-h") return Command{HelpRequest{}};
  }
  if (command == "help") return Command{HelpRequest{}};
  if (command == "make") return ParseMake(rest);
  if (command == "check") return ParseCheck(rest);
  if (command == "public-key") return ParsePublicKey(rest);
  if (command == "sign") return ParseSign(rest);
  if (command == "publish") return ParsePublish(rest);
  if (command == "rollback") return ParseRollback(rest);
  return Failure{"unknown command " + std::string(command)};
}

std::string HelpText() {
  return R"(Usage:
  kestrova-channel make --installer FILE --signature FILE.minisig --url URL
                        [--channel latest.json] [--public-key KEY]
  kestrova-channel check [--channel URL] [--public-key KEY] [--keep FILE]
                         [--resolve HOST:PORT:ADDRESS]... [--json]
  kestrova-channel publish --root DIR --installer FILE --signature FILE.minisig
                           --base-url https://HOST[/PATH] [--public-key KEY]
  kestrova-channel rollback --root DIR [--public-key KEY]
  kestrova-channel public-key --pkcs11-module MODULE --key URI [--out FILE.pub]
  kestrova-channel sign --installer FILE --pkcs11-module MODULE --key URI
                        [--signature FILE.minisig] [--trusted-comment TEXT]
                        [--public-key KEY]
  kestrova-channel --help

Makes and watches the update channel of Kestrova AI with the setup program's
own code: its channel reader, signature verifier, failure texts and key.

make   verifies FILE against FILE.minisig (minisign, prehashed) and the key,
       then writes the channel document (default latest.json): a new one, or
       in an existing one only platforms -> windows-x86_64 -> url and
       signature change (the signature is the .minisig file in Base64). The
       result is read back with the program's reader, written beside the
       target and renamed over it; a refusal changes nothing. URL must be
       https.
check  does what a user's run does: fetches the channel, by default the
       program's own address
         )" +
         ChannelAddress() +
         R"(
       reads it, downloads the installer through the verifier and gives the
       program's verdict. Nothing is written, except with --keep FILE: the
       verified installer, renamed into place only after it verified.
       --resolve HOST:PORT:ADDRESS (as curl's, repeatable) sends both
       requests for HOST:PORT to ADDRESS, so that each CDN edge can be
       checked under the real name and certificate. Warnings, on stderr
       ("warning: "): the channel document may be cached longer than 300 s
       (Cache-Control s-maxage or max-age, else Expires) or its lifetime is
       left to the caches; the installer's address is cacheable but its name
       lacks the first 16 hexadecimal digits of its SHA-256. --json prints
       one JSON document instead of the verdict line: channel and installer
       (url, status, size, the cache headers seen), keyId, trustedComment,
       warnings, verdict (verified, refused or error), failure (the
       program's failure text) and exitCode.

publish
       fills the web root DIR that https://HOST[/PATH] serves: verifies
       FILE against FILE.minisig and the key as make does, copying it in the
       same pass into DIR/dl/ under a name of its content (setup.exe becomes
       setup-HHHHHHHHHHHHHHHH.exe, the first 16 hexadecimal digits of its
       SHA-256; a name that holds other bytes is refused, one that holds the
       same bytes is kept), then writes DIR/updates/kestrova-desk/latest.json
       as make does with the installer's new address, keeping the document
       it replaces as latest.json.previous. The document is renamed into
       place last, so that a reader sees the old pair or the new one.
       Earlier installers are never deleted: cached documents still name
       them. A refusal changes nothing in DIR.
rollback
       puts latest.json.previous back as latest.json (which in turn becomes
       latest.json.previous), once the installer it names is in DIR/dl/ and
       verifies against its signature and the key. A refusal changes nothing.

public-key
       prints the update key held on a PKCS#11 token as minisign writes a
       .pub file: "untrusted comment: minisign public key ID" and the key
       line, which --public-key and minisign -P take (the whole file in
       Base64 is what -DKESTROVA_PUBLIC_KEY= takes). The key ID is the key's
       CKA_ID (8 bytes). --out writes the file instead, beside it first and
       then renamed over it.
sign   signs FILE with the token's key as minisign -S does (prehashed): the
       file is hashed here (BLAKE2b-512), the token signs the digest and then
       that signature with the trusted comment (CKM_EDDSA). The comment is
       minisign's "timestamp:SECONDS<TAB>file:NAME<TAB>hashed" unless given.
       The signature (default FILE.minisig) is checked with the program's
       verifier against its key (or KEY) before it is renamed into place; a
       token key that is not the program's key is refused.

--pkcs11-module MODULE  the token's PKCS#11 module (a .so file).
--key URI         the private key's PKCS#11 URI (RFC 7512), for instance
                  'pkcs11:token=Kestrova;object=kestrova-update;type=private';
                  exactly one token and one private key must match.
The PIN comes from the file that the URI's pin-source names, else from the
environment variable KESTROVA_SIGN_PIN, never from the command line; a token
with a PIN pad asks for it there.

--public-key KEY  a minisign public key line ("RW..."), as minisign -P takes
                  it; without it, the key built into the program.

HTTP(S) goes through libcurl: the system's CA store, or CURL_CA_BUNDLE
(SSL_CERT_FILE, SSL_CERT_DIR); proxies from https_proxy, all_proxy, no_proxy.

Output: one verdict line on stdout. On success, make prints "written: ",
publish "published: " and rollback "rolled back: " with the channel file,
and check "verified: ", each with the url, the size, the key id and the
trusted comment, sign "signed: " with the signature file, the installer, its size,
the key id and the trusted comment, public-key with --out "written: " with
the file, the key id and the key line; on a refusal, the program's own
failure text (for make's address check, "the installer's address is not
https"). Explanations (what is wrong, the commands that make a right
signature, what the token holds, curl's message) go to stderr, as does the
progress bar, drawn only when stderr is a terminal.

Exit codes:
  0  make wrote the channel / check verified the installer / publish or
     rollback changed the web root / public-key printed or wrote the key /
     sign wrote the signature
  1  refused: the setup program would fail (for sign: the token's key is not
     the program's); stdout has its failure text
  2  wrong command line
  3  a local file cannot be read, merged into or written, or the web root
     lacks what rollback needs, or holds other bytes under the name that
     publish would give (stderr says which)
  4  the token cannot be used: its module, no or several matching tokens or
     keys, a key that is not Ed25519 or whose ID is not 8 bytes, a wrong or
     locked PIN, no CKM_EDDSA, a failed signature (stderr says what it found)
)";
}

}  // namespace kestrova::channel
