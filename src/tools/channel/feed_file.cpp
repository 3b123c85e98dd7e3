#include "tools/channel/feed_file.h"

#include <vector>

#include "tools/channel/chunk_pipeline.h"
#include "tools/channel/replacing_file.h"

namespace kestrova::channel {

Status FeedFile(const std::string& path, SignatureVerifier& verifier, std::uint64_t& size) {
  FileOwner file(std::fopen(path.c_str(), "rb"));
  if (!file) return FileFailure(path);
  std::vector<std::uint8_t> buffer(ChunkPipeline::kBlockBytes);
  while (true) {
    const std::size_t count = std::fread(buffer.data(), 1, buffer.size(), file.get());
    verifier.Update({buffer.data(), count});
    size += count;
    if (count < buffer.size()) break;
  }
  if (std::ferror(file.get())) return FileFailure(path);
  return kSuccess;
}

}  // namespace kestrova::channel
