#pragma once

#include <windows.h>

#include <wininet.h>

#include <cstdint>

#include "worker/wininet_entries.h"

namespace kestrova {

// A numeric response header of a request (HTTP_QUERY_STATUS_CODE,
// HTTP_QUERY_CONTENT_LENGTH, ...), read with HTTP_QUERY_FLAG_NUMBER. The
// query's own result is not looked at: a header that is missing or not a
// number reads as 0.
std::uint32_t QueryHttpNumber(const WinInetEntries& winInet, HINTERNET request,
                              std::uint32_t level);

}  // namespace kestrova
