#include "tools/channel/token_command.h"

#include "signature/minisign_public_key.h"
#include "tools/channel/minisign_text.h"
#include "tools/channel/public_key_text.h"
#include "tools/channel/replacing_file.h"

namespace kestrova::channel {

std::optional<TokenKey> OpenCommandKey(const TokenOptions& options, std::ostream& err,
                                       ExitCode& refusal) {
  auto uri = ParseKeyUri(options.keyUri);
  if (!uri.ok()) {
    err << "kestrova-channel: " << uri.failure().text << "\n";
    refusal = ExitCode::kUsage;
    return std::nullopt;
  }
  auto key = TokenKey::Open(options.module, uri.value());
  if (!key.ok()) {
    err << "kestrova-channel: " << key.failure().text << "\n";
    refusal = ExitCode::kToken;
    return std::nullopt;
  }
  return std::move(key.value());
}

ExitCode RunPublicKey(const PublicKeyOptions& options, std::ostream& out, std::ostream& err) {
  ExitCode refusal = ExitCode::kToken;
  auto key = OpenCommandKey(options.token, err, refusal);
  if (!key) return refusal;
  auto publicKey = key->PublicKey();
  if (!publicKey.ok()) {
    err << "kestrova-channel: " << publicKey.failure().text << "\n";
    return ExitCode::kToken;
  }
  const auto keyNumber = MinisignKeyNumber(key->id());
  const std::string text = PublicKeyFileText(keyNumber, publicKey.value());
  if (!options.out) {
    out << text;
    return ExitCode::kDone;
  }
  auto file = ReplacingFile::Create(*options.out);
  Status written = file.ok() ? file.value().Write(text) : Status(file.failure());
  if (!written) written = file.value().Commit();
  if (written) {
    err << "kestrova-channel: " << written->text << "\n";
    return ExitCode::kLocalFile;
  }
  out << "written: " << *options.out << ": key " << KeyIdText(keyNumber) << ", "
      << PublicKeyLine(keyNumber, publicKey.value()) << "\n";
  return ExitCode::kDone;
}

}  // namespace kestrova::channel
