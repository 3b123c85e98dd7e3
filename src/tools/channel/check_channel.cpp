#include "tools/channel/check_channel.h"

#include <cstdio>
#include <optional>
#include <string>

#include "signature/signature_verifier.h"
#include "tools/channel/chunk_pipeline.h"
#include "tools/channel/curl_fetch.h"
#include "tools/channel/progress_bar.h"
#include "tools/channel/public_key_text.h"
#include "tools/channel/replacing_file.h"
#include "tools/channel/signature_facts.h"
#include "worker/channel_body.h"
#include "worker/channel_document.h"

namespace kestrova::channel {
namespace {

ExitCode Refused(std::ostream& out, const Failure& failure) {
  out << failure.text << "\n";
  return ExitCode::kRefused;
}

std::string TooLargeText() {
  return "the channel document is larger than " + std::to_string(kMaxChannelBodyBytes) + " bytes";
}

}  // namespace

ExitCode RunCheck(const CheckOptions& options, std::ostream& out, std::ostream& err) {
  const std::string publicKey = ChosenPublicKey(options.publicKey, err);
  if (publicKey.empty()) return ExitCode::kUsage;

  // The channel body in memory, bounded as the program bounds it.
  std::string body;
  if (Status failure = CurlFetch(options.channel, ChannelBodySink(body), err)) {
    // The sink's only failure: the program's text, and why on stderr.
    if (failure->text == kUnreadableChannelText)
      err << "kestrova-channel: " << TooLargeText() << "\n";
    return Refused(out, *failure);
  }

  auto entry = ReadChannelDocument(body);
  std::string().swap(body);
  if (!entry.ok()) return Refused(out, entry.failure());
  const std::string& url = entry.value().url;

  auto verifier = SignatureVerifier::Create(entry.value().signature, publicKey);
  if (!verifier.ok()) return Refused(out, verifier.failure());

  std::optional<ReplacingFile> keep;
  if (options.keep) {
    auto file = ReplacingFile::Create(*options.keep);
    if (!file.ok()) {
      err << "kestrova-channel: " << file.failure().text << "\n";
      return ExitCode::kLocalFile;
    }
    keep.emplace(std::move(file.value()));
  }

  // Receiving and hashing overlap: the hash (and the kept file) runs on a
  // thread of its own, fed in order through a bounded pipeline.
  std::uint64_t size = 0;
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
      size = received;
      bar.Show(received, announced);
      return pipeline.Push(chunk);
    };
    verdict = CurlFetch(url, installerSink, err);
    if (!verdict) verdict = pipeline.Finish();
  }
  if (keepFailed) {
    err << "kestrova-channel: " << verdict->text << "\n";
    return ExitCode::kLocalFile;
  }
  if (verdict) return Refused(out, *verdict);
  if (Status failure = std::move(verifier.value()).Finish()) return Refused(out, *failure);
  if (keep) {
    if (Status committed = keep->Commit()) {
      err << "kestrova-channel: " << committed->text << "\n";
      return ExitCode::kLocalFile;
    }
  }

  const auto facts = ReadSignatureFacts(entry.value().signature);
  out << "verified: " << url << ", " << size << " bytes, key " << KeyIdOfPublicKey(publicKey)
      << ", trusted comment: " << (facts ? facts->trustedComment : "") << "\n";
  return ExitCode::kDone;
}

}  // namespace kestrova::channel
