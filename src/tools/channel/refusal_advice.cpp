#include "tools/channel/refusal_advice.h"

#include "signature/base64_text.h"
#include "signature/minisign_error.h"
#include "signature/signature_verifier.h"

namespace kestrova::channel {
namespace {

std::string SignCommand(const SigningFacts& facts) {
  return "  kestrova-channel sign --installer " + ShellWord(facts.installerPath) + " --signature " +
         ShellWord(facts.signaturePath) + " --pkcs11-module <module> --key '<PKCS#11 URI of " +
         facts.keyId +
         ">'\n"
         "or, with the key in a minisign key file:\n"
         "  minisign -S -s <secret key of " +
         facts.keyId + "> -m " + ShellWord(facts.installerPath) + " -x " +
         ShellWord(facts.signaturePath) + " -t '<trusted comment>'\n";
}

}  // namespace

std::string ShellWord(std::string_view word) {
  constexpr std::string_view kPlain =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-./:=+,@%";
  if (!word.empty() && word.find_first_not_of(kPlain) == std::string_view::npos) {
    return std::string(word);
  }
  std::string quoted = "'";
  for (char c : word) {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
}

std::string RefusalAdvice(std::string_view failureText, const SigningFacts& facts) {
  std::string sentence;
  if (failureText == kUnreadableSignatureText) {
    sentence = facts.signaturePath +
               " is not a minisign signature file that the program can read. Give the .minisig "
               "file exactly as minisign wrote it (not Base64 of it), made with:\n";
  } else if (failureText == kMinisignWrongKey) {
    sentence = "The signature was made with key " + facts.signatureKeyId +
               ", but the program checks against key " + facts.keyId +
               ". Sign with the secret key of " + facts.keyId + ":\n";
  } else if (failureText == kMinisignLegacyMode) {
    sentence =
        "The signature is in minisign's legacy mode (minisign -l), which the program refuses; it "
        "takes prehashed signatures only. Sign again (with minisign, without -l):\n";
  } else if (failureText == kSignatureMismatchText) {
    sentence = "The signature does not hold for " + facts.installerPath +
               ": it was made for other bytes, or the file or the trusted comment changed "
               "since. Sign this very file again:\n";
  } else {
    return {};
  }
  return sentence + SignCommand(facts);
}

}  // namespace kestrova::channel
