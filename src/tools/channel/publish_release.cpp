#include "tools/channel/publish_release.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "signature/signature_verifier.h"
#include "tools/channel/channel_json.h"
#include "tools/channel/chunk_pipeline.h"
#include "tools/channel/feed_file.h"
#include "tools/channel/make_channel.h"
#include "tools/channel/public_key_text.h"
#include "tools/channel/replacing_file.h"
#include "tools/channel/sha256_digest.h"
#include "tools/channel/web_root.h"
#include "worker/channel_document.h"

namespace kestrova::channel {
namespace {

// The installer copied into ROOT/dl/ beside its final name, and what was
// learnt on the way: it went through the verifier and SHA-256 in the same
// pass, so the copy is exactly the bytes verified.
struct InstallerCopy {
  std::optional<ReplacingFile> file;
  std::string sha256;
  std::uint64_t size = 0;
};

Result<InstallerCopy> CopyThroughVerifier(std::FILE* source, const std::string& sourcePath,
                                          const std::string& besideTarget,
                                          SignatureVerifier& verifier) {
  auto file = ReplacingFile::Create(besideTarget);
  if (!file.ok()) return file.failure();
  InstallerCopy copy;
  copy.file.emplace(std::move(file.value()));
  Sha256 sha256;
  std::vector<std::uint8_t> buffer(ChunkPipeline::kBlockBytes);
  {
    // The BLAKE2b of the verifier, the slower hash, runs on a thread of its
    // own; reading, SHA-256 and writing overlap with it.
    ChunkPipeline pipeline([&](std::span<const std::uint8_t> block) -> Status {
      verifier.Update(block);
      return kSuccess;
    });
    while (true) {
      const std::size_t count = std::fread(buffer.data(), 1, buffer.size(), source);
      const std::span<const std::uint8_t> block(buffer.data(), count);
      copy.size += count;
      sha256.Update(block);
      if (Status pushed = pipeline.Push(block)) return *pushed;
      if (Status written = copy.file->Write(block)) return *written;
      if (count < buffer.size()) break;
    }
    if (std::ferror(source)) return FileFailure(sourcePath);
    if (Status finished = pipeline.Finish()) return *finished;
  }
  if (Status closed = copy.file->Close()) return *closed;
  copy.sha256 = sha256.FinishHex();
  return copy;
}

// Whether two files hold the same bytes.
Result<bool> SameContent(const std::string& a, const std::string& b) {
  FileOwner first(std::fopen(a.c_str(), "rb"));
  if (!first) return FileFailure(a);
  FileOwner second(std::fopen(b.c_str(), "rb"));
  if (!second) return FileFailure(b);
  std::vector<char> one(ChunkPipeline::kBlockBytes), other(ChunkPipeline::kBlockBytes);
  while (true) {
    const std::size_t count = std::fread(one.data(), 1, one.size(), first.get());
    if (std::ferror(first.get())) return FileFailure(a);
    const std::size_t otherCount = std::fread(other.data(), 1, other.size(), second.get());
    if (std::ferror(second.get())) return FileFailure(b);
    if (count != otherCount || std::memcmp(one.data(), other.data(), count) != 0) return false;
    if (count < one.size()) return true;
  }
}

bool Exists(const std::string& path) {
  struct stat status {};
  return lstat(path.c_str(), &status) == 0;
}

std::string BaseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// Puts the installer copy under its content name: a new name, or a name that
// already holds exactly these bytes (the copy is then dropped).
Status PlaceInstaller(InstallerCopy& copy, const std::string& target) {
  if (Exists(target)) {
    auto same = SameContent(copy.file->temporaryPath(), target);
    if (!same.ok()) return same.failure();
    if (!same.value()) {
      return Failure{target +
                     " already holds other bytes; a published name never gets new bytes, "
                     "since caches and old channel documents still name it. Nothing was changed"};
    }
    return kSuccess;
  }
  return copy.file->CommitAsNew(target);
}

// The channel document replaced by another, the replaced one kept as
// latest.json.previous; the document itself is renamed last.
Status ReplaceChannel(const WebRoot& web, const std::optional<std::string>& replaced,
                      const std::string& document, std::string_view url,
                      std::string_view signature) {
  auto channel = PrepareChannel(web.channel, document, url, signature);
  if (!channel.ok()) return channel.failure();
  if (replaced) {
    auto previous = ReplacingFile::Create(web.previous);
    if (!previous.ok()) return previous.failure();
    if (Status written = previous.value().Write(*replaced)) return written;
    if (Status committed = previous.value().Commit()) return committed;
  }
  return channel.value().Commit();
}

void CloseDescriptor(int descriptor) { close(descriptor); }
using RootLock = Owner<int, &CloseDescriptor>;

// One publish or rollback at a time in a root: an advisory lock on the root
// folder itself, which leaves no file behind. Fails when the root is not a
// folder or another command holds it.
Result<RootLock> LockRoot(const WebRoot& web) {
  const int descriptor = open(web.root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) return FileFailure(web.root);
  RootLock lock(descriptor);
  if (flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) return FileFailure(web.root);
    return Failure{web.root +
                   ": another publish or rollback is at work there; nothing was changed"};
  }
  return lock;
}

}  // namespace

ExitCode RunPublish(const PublishOptions& options, std::ostream& out, std::ostream& err) {
  std::string baseUrl = options.baseUrl;
  while (!baseUrl.empty() && baseUrl.back() == '/') baseUrl.pop_back();
  if (!IsHttpsAddress(baseUrl)) return RefuseAddress(options.baseUrl, out, err);

  const std::string publicKey = ChosenPublicKey(options.publicKey, err);
  if (publicKey.empty()) return ExitCode::kUsage;
  const WebRoot web = WebRootAt(options.root);
  auto lock = LockRoot(web);
  if (!lock.ok()) return LocalFileProblem(err, lock.failure().text);

  auto signature = ReadChannelSignature(options.installer, options.signature, publicKey);
  if (!signature.ok()) return LocalFileProblem(err, signature.failure().text);
  const ChannelSignature& theSignature = signature.value();
  auto verifier = SignatureVerifier::Create(theSignature.base64, publicKey);
  if (!verifier.ok()) return RefuseSignature(verifier.failure(), theSignature.signing, out, err);

  // The existing document must take the new entry before anything is copied.
  auto existing = ReadExistingChannel(web.channel);
  if (!existing.ok()) return LocalFileProblem(err, existing.failure().text);
  if (auto trial = PutInstallerEntry(existing.value(), baseUrl + "/dl/", theSignature.base64);
      !trial.ok()) {
    return LocalFileProblem(err, web.channel + ": " + trial.failure().text);
  }

  FileOwner source(std::fopen(options.installer.c_str(), "rb"));
  if (!source) return LocalFileProblem(err, FileFailure(options.installer).text);
  NewFolders folders;
  if (Status made = folders.Make(web.installers)) return LocalFileProblem(err, made->text);
  const std::string fileName = BaseName(options.installer);
  auto copy = CopyThroughVerifier(source.get(), options.installer, web.installers + "/" + fileName,
                                  verifier.value());
  if (!copy.ok()) return LocalFileProblem(err, copy.failure().text);
  if (Status verdict = std::move(verifier.value()).Finish()) {
    return RefuseSignature(*verdict, theSignature.signing, out, err);
  }

  const std::string name = ContentName(fileName, copy.value().sha256);
  const std::string url = baseUrl + "/dl/" + PercentEncode(name);
  auto document = PutInstallerEntry(existing.value(), url, theSignature.base64);
  if (!document.ok()) return LocalFileProblem(err, web.channel + ": " + document.failure().text);
  if (Status made = folders.Make(web.channelFolder)) return LocalFileProblem(err, made->text);
  if (Status placed = PlaceInstaller(copy.value(), web.installers + "/" + name)) {
    return LocalFileProblem(err, placed->text);
  }
  folders.Keep();
  // The same installer published again changes nothing.
  if (existing.value() != document.value()) {
    if (Status replaced =
            ReplaceChannel(web, existing.value(), document.value(), url, theSignature.base64)) {
      return LocalFileProblem(err, replaced->text);
    }
  }
  out << "published: " << web.channel << ": "
      << VerdictDetails(url, copy.value().size, theSignature.signing.keyId, theSignature.facts)
      << "\n";
  return ExitCode::kDone;
}

ExitCode RunRollback(const RollbackOptions& options, std::ostream& out, std::ostream& err) {
  const std::string publicKey = ChosenPublicKey(options.publicKey, err);
  if (publicKey.empty()) return ExitCode::kUsage;
  const WebRoot web = WebRootAt(options.root);
  constexpr std::string_view kUnchanged = "; nothing was changed\n";
  auto lock = LockRoot(web);
  if (!lock.ok()) return LocalFileProblem(err, lock.failure().text);

  auto previous = ReadWholeFile(web.previous, kMaxChannelFileBytes);
  if (!previous.ok()) {
    return LocalFileProblem(err, previous.failure().text + "; there is nothing to roll back to");
  }
  auto current = ReadExistingChannel(web.channel);
  if (!current.ok()) return LocalFileProblem(err, current.failure().text);
  auto entry = ReadChannelDocument(previous.value());
  if (!entry.ok()) {
    out << entry.failure().text << "\n";
    err << "kestrova-channel: " << web.previous << " is not a document the program reads"
        << kUnchanged;
    return ExitCode::kRefused;
  }
  const std::string& url = entry.value().url;
  const auto name = PublishedInstallerName(url);
  if (!name) {
    return LocalFileProblem(err, "latest.json.previous names " + url +
                                     ", which is not an installer in " + web.installers +
                                     "/; nothing was changed");
  }
  const std::string installer = web.installers + "/" + *name;

  auto verifier = SignatureVerifier::Create(entry.value().signature, publicKey);
  const auto facts = ReadSignatureFacts(entry.value().signature);
  auto refuse = [&](const Failure& failure) {
    out << failure.text << "\n";
    err << "kestrova-channel: the installer that latest.json.previous names, " << installer
        << ", does not verify against its signature there and key " << KeyIdOfPublicKey(publicKey)
        << kUnchanged;
    return ExitCode::kRefused;
  };
  if (!verifier.ok()) return refuse(verifier.failure());
  if (struct stat status{}; stat(installer.c_str(), &status) != 0) {
    return LocalFileProblem(err, "latest.json.previous names " + url + ", but " + installer +
                                     " is missing (" + std::strerror(errno) +
                                     "); nothing was changed");
  }
  std::uint64_t size = 0;
  if (Status read = FeedFile(installer, verifier.value(), size)) {
    return LocalFileProblem(err, read->text);
  }
  if (Status verdict = std::move(verifier.value()).Finish()) return refuse(*verdict);

  if (Status replaced =
          ReplaceChannel(web, current.value(), previous.value(), url, entry.value().signature)) {
    return LocalFileProblem(err, replaced->text);
  }
  out << "rolled back: " << web.channel << ": "
      << VerdictDetails(url, size, KeyIdOfPublicKey(publicKey), facts) << "\n";
  return ExitCode::kDone;
}

}  // namespace kestrova::channel
