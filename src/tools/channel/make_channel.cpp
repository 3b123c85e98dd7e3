#include "tools/channel/make_channel.h"

#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "signature/signature_verifier.h"
#include "tools/channel/base64_encode.h"
#include "tools/channel/channel_json.h"
#include "tools/channel/public_key_text.h"
#include "tools/channel/refusal_advice.h"
#include "tools/channel/replacing_file.h"
#include "tools/channel/signature_facts.h"
#include "worker/channel_document.h"

namespace kestrova::channel {
namespace {

// A signature file is a few hundred bytes; a trusted comment may be long.
constexpr std::uint64_t kMaxSignatureFileBytes = 1 << 20;
// The channel document being merged into.
constexpr std::uint64_t kMaxChannelFileBytes = 16 << 20;

ExitCode LocalFileProblem(std::ostream& err, std::string_view text) {
  err << "kestrova-channel: " << text << "\n";
  return ExitCode::kLocalFile;
}

// Feeds the installer file through the verifier; a failure names the file.
Status FeedFile(const std::string& path, SignatureVerifier& verifier, std::uint64_t& size) {
  FileOwner file(std::fopen(path.c_str(), "rb"));
  if (!file) return FileFailure(path);
  std::uint8_t buffer[65536];
  while (true) {
    const std::size_t count = std::fread(buffer, 1, sizeof buffer, file.get());
    verifier.Update({buffer, count});
    size += count;
    if (count < sizeof buffer) break;
  }
  if (std::ferror(file.get())) return FileFailure(path);
  return kSuccess;
}

// The existing channel document, nothing when there is none.
Result<std::optional<std::string>> ReadExistingChannel(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0 && errno == ENOENT) return std::optional<std::string>();
  auto content = ReadWholeFile(path, kMaxChannelFileBytes);
  if (!content.ok()) return content.failure();
  return std::optional<std::string>(std::move(content.value()));
}

}  // namespace

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

ExitCode RunMake(const MakeOptions& options, std::ostream& out, std::ostream& err) {
  if (!IsHttpsAddress(options.url)) {
    out << "the installer's address is not https\n";
    err << "kestrova-channel: " << options.url
        << " is not an https address (https://host/path, no spaces); the program fetches the "
           "installer from exactly this address, so give the https address the CDN serves.\n";
    return ExitCode::kRefused;
  }

  const std::string publicKey = ChosenPublicKey(options.publicKey, err);
  if (publicKey.empty()) return ExitCode::kUsage;

  auto signatureFile = ReadWholeFile(options.signature, kMaxSignatureFileBytes);
  if (!signatureFile.ok()) return LocalFileProblem(err, signatureFile.failure().text);
  const std::string signature = EncodeBase64(signatureFile.value());
  const auto facts = ReadSignatureFacts(signature);
  const SigningFacts signing{options.installer, options.signature, KeyIdOfPublicKey(publicKey),
                             facts ? facts->keyId : std::string()};
  auto refuse = [&](const Failure& failure) {
    out << failure.text << "\n";
    err << "kestrova-channel: " << RefusalAdvice(failure.text, signing);
    return ExitCode::kRefused;
  };

  auto verifier = SignatureVerifier::Create(signature, publicKey);
  if (!verifier.ok()) return refuse(verifier.failure());
  std::uint64_t size = 0;
  if (Status read = FeedFile(options.installer, verifier.value(), size)) {
    return LocalFileProblem(err, read->text);
  }
  if (Status verdict = std::move(verifier.value()).Finish()) return refuse(*verdict);

  auto existing = ReadExistingChannel(options.channel);
  if (!existing.ok()) return LocalFileProblem(err, existing.failure().text);
  auto document = PutInstallerEntry(existing.value(), options.url, signature);
  if (!document.ok()) {
    return LocalFileProblem(err, options.channel + ": " + document.failure().text);
  }

  auto file = ReplacingFile::Create(options.channel);
  if (!file.ok()) return LocalFileProblem(err, file.failure().text);
  if (Status written = file.value().Write(document.value())) {
    return LocalFileProblem(err, written->text);
  }
  if (Status closed = file.value().Close()) return LocalFileProblem(err, closed->text);
  // What was written must read back, through the program's own reader, to
  // exactly this installer entry.
  auto written = ReadWholeFile(file.value().temporaryPath(), kMaxChannelFileBytes);
  if (!written.ok()) return LocalFileProblem(err, written.failure().text);
  auto entry = ReadChannelDocument(written.value());
  if (!entry.ok() || entry.value().url != options.url || entry.value().signature != signature) {
    return LocalFileProblem(err, options.channel + ": the document written does not read back " +
                                     "to this url and signature; nothing was replaced");
  }
  if (Status committed = file.value().Commit()) return LocalFileProblem(err, committed->text);

  out << "written: " << options.channel << ": " << options.url << ", " << size << " bytes, key "
      << signing.keyId << ", trusted comment: " << (facts ? facts->trustedComment : "") << "\n";
  return ExitCode::kDone;
}

}  // namespace kestrova::channel
