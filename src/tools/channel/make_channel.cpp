#include "tools/channel/make_channel.h"

#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "signature/signature_verifier.h"
#include "tools/channel/base64_encode.h"
#include "tools/channel/channel_json.h"
#include "tools/channel/feed_file.h"
#include "tools/channel/public_key_text.h"
#include "tools/channel/refusal_advice.h"
#include "tools/channel/replacing_file.h"
#include "tools/channel/signature_facts.h"
#include "worker/channel_document.h"

namespace kestrova::channel {
namespace {

// A signature file is a few hundred bytes; a trusted comment may be long.
constexpr std::uint64_t kMaxSignatureFileBytes = 1 << 20;

}  // namespace

ExitCode LocalFileProblem(std::ostream& err, std::string_view text) {
  err << "kestrova-channel: " << text << "\n";
  return ExitCode::kLocalFile;
}

Result<std::optional<std::string>> ReadExistingChannel(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0 && errno == ENOENT) return std::optional<std::string>();
  auto content = ReadWholeFile(path, kMaxChannelFileBytes);
  if (!content.ok()) return content.failure();
  return std::optional<std::string>(std::move(content.value()));
}

bool IsHttpsAddress(std::string_view url) {
  constexpr std::string_view kScheme = "https://";
  if (url.size() <= kScheme.size()) return false;
  for (std::size_t i = 0; i < kScheme.size(); ++i) {
    const char c = url[i];
    if ((c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) != kScheme[i]) return false;
  }
  if (url[kScheme.size()] == '/') return false;  // no host
  for (unsigned char c : url) {
    if (c <= ' ' || c == 0x7F) return false;
  }
  return true;
}

Result<ChannelSignature> ReadChannelSignature(const std::string& installer,
                                              const std::string& signaturePath,
                                              const std::string& publicKey) {
  auto signatureFile = ReadWholeFile(signaturePath, kMaxSignatureFileBytes);
  if (!signatureFile.ok()) return signatureFile.failure();
  ChannelSignature result;
  result.base64 = EncodeBase64(signatureFile.value());
  result.facts = ReadSignatureFacts(result.base64);
  result.signing = SigningFacts{installer, signaturePath, KeyIdOfPublicKey(publicKey),
                                result.facts ? result.facts->keyId : std::string()};
  return result;
}

ExitCode RefuseSignature(const Failure& failure, const SigningFacts& signing, std::ostream& out,
                         std::ostream& err) {
  out << failure.text << "\n";
  err << "kestrova-channel: " << RefusalAdvice(failure.text, signing);
  return ExitCode::kRefused;
}

ExitCode RefuseAddress(std::string_view url, std::ostream& out, std::ostream& err) {
  out << "the installer's address is not https\n";
  err << "kestrova-channel: " << url
      << " is not an https address (https://host/path, no spaces); the program fetches the "
         "installer from exactly this address, so give the https address the CDN serves.\n";
  return ExitCode::kRefused;
}

Result<ReplacingFile> PrepareChannel(const std::string& path, const std::string& document,
                                     std::string_view url, std::string_view signature) {
  auto file = ReplacingFile::Create(path);
  if (!file.ok()) return file.failure();
  Status written = file.value().Write(document);
  if (!written) written = file.value().Close();
  if (written) return *written;
  // What was written must read back, through the program's own reader, to
  // exactly this installer entry.
  auto readBack = ReadWholeFile(file.value().temporaryPath(), kMaxChannelFileBytes);
  if (!readBack.ok()) return readBack.failure();
  auto entry = ReadChannelDocument(readBack.value());
  if (!entry.ok() || entry.value().url != url || entry.value().signature != signature) {
    return Failure{path +
                   ": the document written does not read back to this url and "
                   "signature; nothing was replaced"};
  }
  return file;
}

std::string VerdictDetails(std::string_view url, std::uint64_t size, std::string_view keyId,
                           const std::optional<SignatureFacts>& facts) {
  return std::string(url) + ", " + std::to_string(size) + " bytes, key " + std::string(keyId) +
         ", trusted comment: " + (facts ? facts->trustedComment : "");
}

ExitCode RunMake(const MakeOptions& options, std::ostream& out, std::ostream& err) {
  if (!IsHttpsAddress(options.url)) return RefuseAddress(options.url, out, err);

  const std::string publicKey = ChosenPublicKey(options.publicKey, err);
  if (publicKey.empty()) return ExitCode::kUsage;

  auto signature = ReadChannelSignature(options.installer, options.signature, publicKey);
  if (!signature.ok()) return LocalFileProblem(err, signature.failure().text);
  const ChannelSignature& theSignature = signature.value();

  auto verifier = SignatureVerifier::Create(theSignature.base64, publicKey);
  if (!verifier.ok()) return RefuseSignature(verifier.failure(), theSignature.signing, out, err);
  std::uint64_t size = 0;
  if (Status read = FeedFile(options.installer, verifier.value(), size)) {
    return LocalFileProblem(err, read->text);
  }
  if (Status verdict = std::move(verifier.value()).Finish()) {
    return RefuseSignature(*verdict, theSignature.signing, out, err);
  }

  auto existing = ReadExistingChannel(options.channel);
  if (!existing.ok()) return LocalFileProblem(err, existing.failure().text);
  auto document = PutInstallerEntry(existing.value(), options.url, theSignature.base64);
  if (!document.ok()) {
    return LocalFileProblem(err, options.channel + ": " + document.failure().text);
  }
  auto file = PrepareChannel(options.channel, document.value(), options.url, theSignature.base64);
  if (!file.ok()) return LocalFileProblem(err, file.failure().text);
  if (Status committed = file.value().Commit()) return LocalFileProblem(err, committed->text);

  out << "written: " << options.channel << ": "
      << VerdictDetails(options.url, size, theSignature.signing.keyId, theSignature.facts) << "\n";
  return ExitCode::kDone;
}

}  // namespace kestrova::channel
