#pragma once

#include <cstdint>
#include <string>

#include "worker/http_fetch.h"

namespace kestrova {

// The most the update channel's body may be. A real channel document is about
// a kilobyte; the cap keeps a body without end (a captive portal, the address
// pointed at a large file) from eating the machine's memory.
inline constexpr std::uint64_t kMaxChannelBodyBytes = 4 << 20;

// The sink of the channel fetch: appends each chunk to body. A body that is
// announced or received longer than kMaxChannelBodyBytes fails with "канал
// обновлений не читается", which ends the fetch before anything more is read.
// body must outlive the sink.
ChunkSink ChannelBodySink(std::string& body);

}  // namespace kestrova
