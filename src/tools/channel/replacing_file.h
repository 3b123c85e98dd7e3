#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/owner.h"
#include "common/result.h"

namespace kestrova::channel {

inline void CloseFile(std::FILE* file) { std::fclose(file); }
using FileOwner = Owner<std::FILE*, &CloseFile>;

// A new content for a file, written to a temporary file in the same folder
// and renamed over the target only by Commit, so that the target is never
// seen half-written. Dropped uncommitted, the temporary file is removed and
// the target stays as it was.
class ReplacingFile {
 public:
  // Creates the temporary file beside target. Failure texts name the file
  // and the system's reason.
  static Result<ReplacingFile> Create(const std::string& target);

  ReplacingFile(ReplacingFile&& other) noexcept;
  ReplacingFile& operator=(ReplacingFile&&) = delete;
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;
  ~ReplacingFile();

  Status Write(std::span<const std::uint8_t> bytes);
  Status Write(std::string_view text);

  // Flushes and closes the temporary file; its content can then be read back
  // at temporaryPath().
  Status Close();

  // Closes if needed and renames the temporary file over the target, then
  // flushes the folder, so that the new name lasts.
  Status Commit();

  // The same, but under another name in the same folder, which must not
  // exist yet: a file that appears there meanwhile is never replaced (the
  // failure's reason is then "File exists").
  Status CommitAsNew(const std::string& target);

  const std::string& temporaryPath() const { return temporaryPath_; }

 private:
  ReplacingFile(std::string target, std::string temporaryPath, std::FILE* file);

  std::string target_;
  std::string temporaryPath_;
  FileOwner file_;
  bool committed_ = false;
};

// The whole content of a file, or a failure text naming it. A file larger
// than limit bytes fails too.
Result<std::string> ReadWholeFile(const std::string& path, std::uint64_t limit);

// "PATH: the system's reason" for the last failed call.
Failure FileFailure(std::string_view path);

// Flushes a folder, so that renames and new names in it last.
Status SyncFolder(const std::string& folder);

// The folders that a command makes for its files (each missing one of a
// path, parents first). Unless kept, they are removed again, last first, so
// that a refusal leaves no new folder behind.
class NewFolders {
 public:
  NewFolders() = default;
  NewFolders(const NewFolders&) = delete;
  NewFolders& operator=(const NewFolders&) = delete;
  ~NewFolders();

  // Makes path and the missing folders above it.
  Status Make(const std::string& path);
  void Keep() { made_.clear(); }

 private:
  std::vector<std::string> made_;
};

}  // namespace kestrova::channel
