#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

#include "common/result.h"

namespace kestrova {

// The caller's action for each piece of the body: the bytes just read (valid
// only during the call), the body length so far including them, and the
// announced length (0 when none). A failure ends the fetch with its text.
using ChunkSink = std::function<Status(std::span<const std::uint8_t> chunk, std::uint64_t received,
                                       std::uint32_t announced)>;

// Fetches url over WinINet with the user agent "KestrovaAI-setup": status
// 200 only, the body to sink chunk by chunk, then the completeness test.
// Every handle it opened is closed before it returns.
Status HttpFetch(std::string_view url, const ChunkSink& sink);

}  // namespace kestrova
