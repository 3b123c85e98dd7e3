#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

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

  // Closes if needed and renames the temporary file over the target.
  Status Commit();

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

}  // namespace kestrova::channel
