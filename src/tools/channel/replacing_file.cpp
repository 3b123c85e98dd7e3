#include "tools/channel/replacing_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace kestrova::channel {
namespace {

// The folder a path lies in ("." for a bare name).
std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The mode a new file gets: read and write for everyone, less the umask.
mode_t NewFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

Failure FileFailure(std::string_view path) {
  return Failure{std::string(path) + ": " + std::strerror(errno)};
}

Result<ReplacingFile> ReplacingFile::Create(const std::string& target) {
  const auto slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string temporary = folder + "." + name + ".XXXXXX";
  const int descriptor = mkstemp(temporary.data());
  if (descriptor < 0) {
    return FileFailure("cannot create a file beside " + target);
  }
  // A replaced file keeps its mode; a new one gets the usual one, not the
  // private mode of a temporary file.
  struct stat existing {};
  const mode_t mode =
      stat(target.c_str(), &existing) == 0 ? existing.st_mode & 07777 : NewFileMode();
  std::FILE* file = fdopen(descriptor, "wb");
  if (file == nullptr || fchmod(descriptor, mode) != 0) {
    Failure failure = FileFailure(temporary);
    file != nullptr ? std::fclose(file) : close(descriptor);
    unlink(temporary.c_str());
    return failure;
  }
  return ReplacingFile(target, std::move(temporary), file);
}

ReplacingFile::ReplacingFile(std::string target, std::string temporaryPath, std::FILE* file)
    : target_(std::move(target)), temporaryPath_(std::move(temporaryPath)), file_(file) {}

ReplacingFile::ReplacingFile(ReplacingFile&& other) noexcept
    : target_(std::move(other.target_)),
      temporaryPath_(std::move(other.temporaryPath_)),
      file_(std::move(other.file_)),
      committed_(std::exchange(other.committed_, true)) {}

ReplacingFile::~ReplacingFile() {
  file_.reset();
  if (!committed_) {
    unlink(temporaryPath_.c_str());
  }
}

Status ReplacingFile::Write(std::span<const std::uint8_t> bytes) {
  if (!file_) return Failure{temporaryPath_ + ": already closed"};
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file_.get()) != bytes.size()) {
    return FileFailure(temporaryPath_);
  }
  return kSuccess;
}

Status ReplacingFile::Write(std::string_view text) {
  return Write({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

Status ReplacingFile::Close() {
  if (!file_) return kSuccess;
  std::FILE* file = file_.release();
  const bool flushed = std::fflush(file) == 0 && fsync(fileno(file)) == 0;
  const int flushError = errno;
  if (std::fclose(file) != 0 || !flushed) {
    if (!flushed) errno = flushError;
    return FileFailure(temporaryPath_);
  }
  return kSuccess;
}

Status ReplacingFile::Commit() {
  if (Status closed = Close()) return closed;
  if (std::rename(temporaryPath_.c_str(), target_.c_str()) != 0) {
    return FileFailure(target_);
  }
  committed_ = true;
  return SyncFolder(FolderOf(target_));
}

Status ReplacingFile::CommitAsNew(const std::string& target) {
  if (Status closed = Close()) return closed;
  if (renameat2(AT_FDCWD, temporaryPath_.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) !=
      0) {
    return FileFailure(target);
  }
  committed_ = true;
  return SyncFolder(FolderOf(target));
}

Status SyncFolder(const std::string& folder) {
  const int descriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) return FileFailure(folder);
  const bool synced = fsync(descriptor) == 0;
  const int syncError = errno;
  close(descriptor);
  if (!synced) {
    errno = syncError;
    return FileFailure(folder);
  }
  return kSuccess;
}

NewFolders::~NewFolders() {
  for (auto it = made_.rbegin(); it != made_.rend(); ++it) rmdir(it->c_str());
}

Status NewFolders::Make(const std::string& path) {
  for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    const std::string folder = path.substr(0, end);
    if (mkdir(folder.c_str(), 0777) == 0) {
      made_.push_back(folder);
    } else if (errno != EEXIST) {
      return FileFailure(folder);
    }
    if (end == std::string::npos) return kSuccess;
  }
}

Result<std::string> ReadWholeFile(const std::string& path, std::uint64_t limit) {
  FileOwner file(std::fopen(path.c_str(), "rb"));
  if (!file) return FileFailure(path);
  std::string content;
  char buffer[65536];
  while (true) {
    const std::size_t count = std::fread(buffer, 1, sizeof buffer, file.get());
    content.append(buffer, count);
    if (content.size() > limit) {
      return Failure{path + ": larger than " + std::to_string(limit) + " bytes"};
    }
    if (count < sizeof buffer) break;
  }
  if (std::ferror(file.get())) return FileFailure(path);
  return content;
}

}  // namespace kestrova::channel
