#include "tools/channel/file_digest.h"

#include <vector>

#include "tools/channel/chunk_pipeline.h"
#include "tools/channel/replacing_file.h"

namespace kestrova::channel {
Result<FileDigest> DigestFile(std::FILE* file, const std::string& path) {
  FileDigest result;
  crypto_generichash_init(&result.state, nullptr, 0, result.digest.size());
  std::vector<std::uint8_t> buffer(ChunkPipeline::kBlockBytes);
  {
    ChunkPipeline pipeline([&](std::span<const std::uint8_t> block) -> Status {
      crypto_generichash_update(&result.state, block.data(), block.size());
      return kSuccess;
    });
    while (true) {
      const std::size_t count = std::fread(buffer.data(), 1, buffer.size(), file);
      result.size += count;
      if (Status pushed = pipeline.Push({buffer.data(), count})) return *pushed;
      if (count < buffer.size()) break;
    }
    if (std::ferror(file)) return FileFailure(path);
    if (Status finished = pipeline.Finish()) return *finished;
  }
  crypto_generichash_state finishing = result.state;
  crypto_generichash_final(&finishing, result.digest.data(), result.digest.size());
  return result;
}

}  // namespace kestrova::channel
