#include "worker/channel_body.h"

#include "worker/channel_document.h"

namespace kestrova {

ChunkSink ChannelBodySink(std::string& body) {
  return [&body](std::span<const std::uint8_t> chunk, std::uint64_t received,
                 std::uint32_t announced) -> Status {
    if (announced > kMaxChannelBodyBytes || received > kMaxChannelBodyBytes) {
      return TextFailure(kUnreadableChannelText);
    }
    body.append(reinterpret_cast<const char*>(chunk.data()), chunk.size());
    return kSuccess;
  };
}

}  // namespace kestrova
