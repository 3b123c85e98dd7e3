#include "tools/channel/sign_installer.h"

#include <cstdio>
#include <ctime>
#include <string>

#include "signature/minisign_error.h"
#include "signature/signature_verifier.h"
#include "tools/channel/base64_encode.h"
#include "tools/channel/file_digest.h"
#include "tools/channel/minisign_text.h"
#include "tools/channel/public_key_text.h"
#include "tools/channel/replacing_file.h"
#include "tools/channel/token_command.h"

namespace kestrova::channel {
namespace {

ExitCode Problem(std::ostream& err, ExitCode code, std::string_view text) {
  err << "kestrova-channel: " << text << "\n";
  return code;
}

// The two messages that the token signs: the digest, then the signature
// followed by the trusted comment.
Result<PrehashedSignature> SignDigest(const TokenKey& key, const FileDigest& file,
                                      std::string trustedComment) {
  PrehashedSignature parts;
  parts.keyNumber = MinisignKeyNumber(key.id());
  parts.untrustedComment = "signature from the token key " + KeyIdText(parts.keyNumber);
  parts.trustedComment = std::move(trustedComment);
  auto signature = key.Sign(file.digest);
  if (!signature.ok()) return signature.failure();
  parts.signature = signature.value();
  std::string global(reinterpret_cast<const char*>(parts.signature.data()), parts.signature.size());
  global += parts.trustedComment;
  auto globalSignature =
      key.Sign({reinterpret_cast<const std::uint8_t*>(global.data()), global.size()});
  if (!globalSignature.ok()) return globalSignature.failure();
  parts.globalSignature = globalSignature.value();
  return parts;
}

}  // namespace

ExitCode RunSign(const SignOptions& options, std::ostream& out, std::ostream& err) {
  const std::string publicKey = ChosenPublicKey(options.publicKey, err);
  if (publicKey.empty()) return ExitCode::kUsage;
  const std::string expectedId = KeyIdOfPublicKey(publicKey);

  // An installer that cannot be opened costs no PIN.
  FileOwner installer(std::fopen(options.installer.c_str(), "rb"));
  if (!installer) return Problem(err, ExitCode::kLocalFile, FileFailure(options.installer).text);

  ExitCode refusal = ExitCode::kToken;
  auto key = OpenCommandKey(options.token, err, refusal);
  if (!key) return refusal;
  const std::string tokenId = KeyIdText(MinisignKeyNumber(key->id()));
  // A signature the program would refuse is not worth hashing the file for.
  if (tokenId != expectedId) {
    out << kMinisignWrongKey << "\n";
    err << "kestrova-channel: the token's key " << key->name() << " is key " << tokenId
        << ", but the program checks against key " << expectedId
        << ". Sign with the token key whose ID is " << expectedId
        << (options.publicKey ? "" : ", or give a staging key with --public-key") << ".\n";
    return ExitCode::kRefused;
  }

  auto file = DigestFile(installer.get(), options.installer);
  if (!file.ok()) return Problem(err, ExitCode::kLocalFile, file.failure().text);
  auto parts = SignDigest(*key, file.value(),
                          options.trustedComment.value_or(DefaultTrustedComment(
                              static_cast<std::uint64_t>(std::time(nullptr)), options.installer)));
  if (!parts.ok()) return Problem(err, ExitCode::kToken, parts.failure().text);

  auto signatureFile = ReplacingFile::Create(options.signature);
  if (!signatureFile.ok()) {
    return Problem(err, ExitCode::kLocalFile, signatureFile.failure().text);
  }
  Status written = signatureFile.value().Write(SignatureFileText(parts.value()));
  if (!written) written = signatureFile.value().Close();
  if (written) return Problem(err, ExitCode::kLocalFile, written->text);

  // What was written must verify, with the program's verifier and key, for
  // the bytes just hashed.
  auto readBack = ReadWholeFile(signatureFile.value().temporaryPath(), 1 << 20);
  if (!readBack.ok()) return Problem(err, ExitCode::kLocalFile, readBack.failure().text);
  auto verifier =
      SignatureVerifier::Resume(EncodeBase64(readBack.value()), publicKey, file.value().state);
  Status verdict = verifier.ok() ? std::move(verifier.value()).Finish() : verifier.failure();
  if (verdict) {
    out << verdict->text << "\n";
    err << "kestrova-channel: the signature that the token's key " << key->name()
        << " made does not hold for the program's key " << expectedId
        << ": the token holds another key under the same ID; nothing was written.\n";
    return ExitCode::kRefused;
  }
  if (Status committed = signatureFile.value().Commit()) {
    return Problem(err, ExitCode::kLocalFile, committed->text);
  }
  out << "signed: " << options.signature << ": " << options.installer << ", " << file.value().size
      << " bytes, key " << tokenId << ", trusted comment: " << parts.value().trustedComment << "\n";
  return ExitCode::kDone;
}

}  // namespace kestrova::channel
