#pragma once

#include <string>
#include <string_view>

namespace kestrova::channel {

// What make knows when it refuses a signature.
struct SigningFacts {
  std::string installerPath;
  std::string signaturePath;
  std::string keyId;           // the key the program checks against
  std::string signatureKeyId;  // the key the signature names; empty if unreadable
};

// For a failure text of the signature check: a sentence that says what is
// wrong, then the kestrova-channel sign command that makes a right signature
// with the key on its token, and the minisign command for a key file. Empty for a
// text that no signature can cause (a faulty key).
std::string RefusalAdvice(std::string_view failureText, const SigningFacts& facts);

// A word for a POSIX shell: as it is when it has no special characters,
// else in single quotes.
std::string ShellWord(std::string_view word);

}  // namespace kestrova::channel
