#include "tools/channel/check_channel.h"

#include <cstdio>
#include <ctime>
#include <optional>
#include <string>

#include "signature/signature_verifier.h"
#include "tools/channel/cache_warnings.h"
#include "tools/channel/check_report.h"
#include "tools/channel/chunk_pipeline.h"
#include "tools/channel/curl_fetch.h"
#include "tools/channel/progress_bar.h"
#include "tools/channel/public_key_text.h"
#include "tools/channel/replacing_file.h"
#include "tools/channel/sha256_digest.h"
#include "tools/channel/signature_facts.h"
#include "worker/channel_body.h"
#include "worker/channel_document.h"

namespace kestrova::channel {
namespace {

ExitCode Refused(CheckReport& report, const Failure& failure) {
  report.failure = failure.text;
  return ExitCode::kRefused;
}

ExitCode LocalProblem(CheckReport& report, std::ostream& err, const std::string& text) {
  err << "kestrova-channel: " << text << "\n";
  report.failure = text;
  return ExitCode::kLocalFile;
}

void Warn(CheckReport& report, std::ostream& err, std::string text) {
  err << "kestrova-channel: warning: " << text << "\n";
  report.warnings.push_back(std::move(text));
}

std::string TooLargeText() {
  return "the channel document is larger than " + std::to_string(kMaxChannelBodyBytes) + " bytes";
}

// A user's run: the channel, its entry, the installer through the verifier.
ExitCode Check(const CheckOptions& options, const std::string& publicKey, CheckReport& report,
               std::ostream& err) {
  const FetchSetup setup{options.resolve};
  // The channel body in memory, bounded as the program bounds it.
  std::string body;
  if (Status failure =
          CurlFetch(options.channel, ChannelBodySink(body), err, setup, &report.channel)) {
    // The sink's only failure: the program's text, and why on stderr.
    if (failure->text == kUnreadableChannelText)
      err << "kestrova-channel: " << TooLargeText() << "\n";
    return Refused(report, *failure);
  }
  for (std::string& warning : ChannelCacheWarnings(report.channel, std::time(nullptr))) {
    Warn(report, err, std::move(warning));
  }

  auto entry = ReadChannelDocument(body);
  std::string().swap(body);
  if (!entry.ok()) return Refused(report, entry.failure());
  const std::string& url = entry.value().url;
  report.installerUrl = url;
  if (const auto facts = ReadSignatureFacts(entry.value().signature)) {
    report.trustedComment = facts->trustedComment;
  }

  auto verifier = SignatureVerifier::Create(entry.value().signature, publicKey);
  if (!verifier.ok()) return Refused(report, verifier.failure());

  std::optional<ReplacingFile> keep;
  if (options.keep) {
    auto file = ReplacingFile::Create(*options.keep);
    if (!file.ok()) return LocalProblem(report, err, file.failure().text);
    keep.emplace(std::move(file.value()));
  }

  // Receiving and hashing overlap: the signature's hash (and the kept file)
  // runs on a thread of its own, fed in order through a bounded pipeline;
  // SHA-256, for the name check, runs as the bytes arrive.
  Sha256 sha256;
  bool keepFailed = false;
  Status verdict;
  {
    ProgressBar bar(stderr);
    ChunkPipeline pipeline([&](std::span<const std::uint8_t> block) -> Status {
      verifier.value().Update(block);
      if (keep) {
        if (Status written = keep->Write(block)) {
          keepFailed = true;
          return written;
        }
      }
      return kSuccess;
    });
    const ChunkSink installerSink = [&](std::span<const std::uint8_t> chunk, std::uint64_t received,
                                        std::uint32_t announced) -> Status {
      bar.Show(received, announced);
      sha256.Update(chunk);
      return pipeline.Push(chunk);
    };
    verdict = CurlFetch(url, installerSink, err, setup, &report.installer);
    if (!verdict) verdict = pipeline.Finish();
  }
  if (keepFailed) return LocalProblem(report, err, verdict->text);
  if (verdict) return Refused(report, *verdict);
  if (auto warning = InstallerCacheWarning(url, report.installer, sha256.FinishHex())) {
    Warn(report, err, std::move(*warning));
  }
  if (Status failure = std::move(verifier.value()).Finish()) return Refused(report, *failure);
  if (keep) {
    if (Status committed = keep->Commit()) return LocalProblem(report, err, committed->text);
  }
  return ExitCode::kDone;
}

}  // namespace

ExitCode RunCheck(const CheckOptions& options, std::ostream& out, std::ostream& err) {
  const std::string publicKey = ChosenPublicKey(options.publicKey, err);
  if (publicKey.empty()) return ExitCode::kUsage;

  CheckReport report;
  report.channelUrl = options.channel;
  report.keyId = KeyIdOfPublicKey(publicKey);
  report.exitCode = Check(options, publicKey, report, err);
  if (options.json) {
    out << CheckReportJson(report);
  } else if (report.exitCode == ExitCode::kDone) {
    out << "verified: " << *report.installerUrl << ", " << report.installer.size << " bytes, key "
        << report.keyId << ", trusted comment: " << report.trustedComment.value_or("") << "\n";
  } else if (report.exitCode == ExitCode::kRefused) {
    out << *report.failure << "\n";
  }
  return report.exitCode;
}

}  // namespace kestrova::channel
