#include "worker/http_fetch.h"

#include <windows.h>

#include <wininet.h>

#include <vector>

#include "common/owner.h"
#include "common/wide_string.h"
#include "worker/channel_address.h"
#include "worker/fetch_failure_text.h"
#include "worker/http_query.h"
#include "worker/wininet_entries.h"

namespace kestrova {
namespace {

// Only a loaded WinINet gives handles, so the entries are there to close them.
void CloseInternetHandle(HINTERNET handle) {
  DWORD error = 0;
  LoadWinInet(error)->InternetCloseHandle(handle);
}

using InternetHandle = Owner<HINTERNET, &CloseInternetHandle>;

constexpr DWORD kRequestFlags =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI;
static_assert(kRequestFlags == 0x84000200);
constexpr DWORD kBufferSize = 65536;

}  // namespace

std::uint32_t QueryHttpNumber(const WinInetEntries& winInet, HINTERNET request,
                              std::uint32_t level) {
  DWORD value = 0;
  DWORD size = sizeof(value);
  winInet.HttpQueryInfoW(request, level | HTTP_QUERY_FLAG_NUMBER, &value, &size, nullptr);
  return value;
}

Status HttpFetch(std::string_view url, const ChunkSink& sink) {
  // WinINet that cannot be loaded fails like an internet handle that cannot
  // be opened, with the load's error code.
  DWORD openError = 0;
  const WinInetEntries* winInet = LoadWinInet(openError);
  if (winInet == nullptr) return Failure{NoInternetText(openError)};

  // Declared in this order so that the request handle is closed before the
  // internet handle, and the buffer released before both.
  InternetHandle internet;
  {
    const WideString userAgent(kUserAgent);
    internet = InternetHandle(winInet->InternetOpenW(
        userAgent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    openError = GetLastError();
  }
  if (!internet) return Failure{NoInternetText(openError)};

  InternetHandle request;
  {
    const WideString wideUrl(url);
    request = InternetHandle(
        winInet->InternetOpenUrlW(internet.get(), wideUrl.c_str(), nullptr, 0, kRequestFlags, 0));
    openError = GetLastError();
  }
  if (!request) return Failure{ServerUnreachableText(openError)};

  const std::uint32_t status = QueryHttpNumber(*winInet, request.get(), HTTP_QUERY_STATUS_CODE);
  if (status != 200) return Failure{ServerAnsweredText(status)};
  const std::uint32_t announced =
      QueryHttpNumber(*winInet, request.get(), HTTP_QUERY_CONTENT_LENGTH);

  std::vector<std::uint8_t> buffer(kBufferSize);
  std::uint64_t received = 0;
  for (;;) {
    DWORD count = 0;
    if (!winInet->InternetReadFile(request.get(), buffer.data(), kBufferSize, &count)) {
      return Failure{ConnectionBrokeText(GetLastError())};
    }
    if (count == 0) break;
    received += count;
    if (Status failed =
            sink(std::span<const std::uint8_t>(buffer.data(), count), received, announced)) {
      return failed;
    }
  }
  if (!BodyIsComplete(received, announced)) return TextFailure(kIncompleteBodyText);
  return kSuccess;
}

}  // namespace kestrova
