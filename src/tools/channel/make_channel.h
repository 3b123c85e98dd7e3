#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "common/result.h"
#include "tools/channel/command_line.h"
#include "tools/channel/exit_code.h"
#include "tools/channel/refusal_advice.h"
#include "tools/channel/replacing_file.h"
#include "tools/channel/signature_facts.h"

namespace kestrova::channel {

// kestrova-channel make: verifies the installer against its signature file
// and the key with the program's verifier, then writes the channel document.
// The verdict line goes to out, explanations to err.
ExitCode RunMake(const MakeOptions& options, std::ostream& out, std::ostream& err);

// Whether url is an https address: the scheme (any letter case), "://", a
// host, and no spaces or control characters.
bool IsHttpsAddress(std::string_view url);

// The pieces that make, publish and rollback share.

// The most a channel document on disk may be, to be merged into or put back.
inline constexpr std::uint64_t kMaxChannelFileBytes = 16 << 20;

// An installer's signature file as the channel carries it (Base64), with what
// it says of itself and what advice on a refusal needs.
struct ChannelSignature {
  std::string base64;
  std::optional<SignatureFacts> facts;
  SigningFacts signing;
};

// Reads the signature file (a failure names it and says why).
Result<ChannelSignature> ReadChannelSignature(const std::string& installer,
                                              const std::string& signaturePath,
                                              const std::string& publicKey);

// A refusal of the signature check: the program's text on out, what to do
// about it on err; exit 1.
ExitCode RefuseSignature(const Failure& failure, const SigningFacts& signing, std::ostream& out,
                         std::ostream& err);

// A refusal of an installer address that is not https; exit 1.
ExitCode RefuseAddress(std::string_view url, std::ostream& out, std::ostream& err);

// "kestrova-channel: TEXT" on err; exit 3.
ExitCode LocalFileProblem(std::ostream& err, std::string_view text);

// The existing channel document at path, nothing when there is none.
Result<std::optional<std::string>> ReadExistingChannel(const std::string& path);

// The new channel document written beside path and closed, checked to read
// back through the program's reader to exactly url and signature; Commit
// puts it in place.
Result<ReplacingFile> PrepareChannel(const std::string& path, const std::string& document,
                                     std::string_view url, std::string_view signature);

// "URL, SIZE bytes, key KEYID, trusted comment: COMMENT" of a verdict line.
std::string VerdictDetails(std::string_view url, std::uint64_t size, std::string_view keyId,
                           const std::optional<SignatureFacts>& facts);

}  // namespace kestrova::channel
