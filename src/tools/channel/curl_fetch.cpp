#include "tools/channel/curl_fetch.h"

#include <curl/curl.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "common/owner.h"
#include "worker/channel_address.h"
#include "worker/fetch_failure_text.h"

namespace kestrova::channel {
namespace {

using CurlHandle = Owner<CURL*, &curl_easy_cleanup>;
using CurlList = Owner<curl_slist*, &curl_slist_free_all>;

// The headers that tell how long caches may keep a response.
constexpr const char* kCacheHeaders[] = {"cache-control", "expires", "age",
                                         "date",          "etag",    "last-modified"};

constexpr long kBufferSize = 65536;
constexpr long kMaxRedirects = 10;
constexpr long kConnectSeconds = 30;
constexpr long kStallSeconds = 60;

// What the write callback learns and leaves for the end of the fetch.
struct Transfer {
  CURL* curl = nullptr;
  const ChunkSink* sink = nullptr;
  bool started = false;  // the final response's first body bytes were seen
  std::uint32_t status = 0;
  std::int64_t announced = -1;  // -1: no Content-Length
  std::uint64_t received = 0;
  std::optional<Failure> stop;  // the status or the sink's failure
};

std::uint32_t ResponseStatus(CURL* curl) {
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  return status < 0 ? 0 : static_cast<std::uint32_t>(status);
}

// The announced length as the program's sink gets it: 32 bits, 0 for none or
// for one that does not fit.
std::uint32_t AnnouncedForSink(std::int64_t announced) {
  return announced > 0 && announced <= UINT32_MAX ? static_cast<std::uint32_t>(announced) : 0;
}

// Called before the first body bytes, or at the end for an empty body: only
// status 200 goes on.
bool AcceptResponse(Transfer& transfer) {
  transfer.started = true;
  transfer.status = ResponseStatus(transfer.curl);
  curl_off_t length = -1;
  curl_easy_getinfo(transfer.curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
  transfer.announced = length;
  if (transfer.status != 200) {
    transfer.stop = Failure{ServerAnsweredText(transfer.status)};
    return false;
  }
  return true;
}

std::size_t ReceiveBody(char* data, std::size_t, std::size_t count, void* context) {
  Transfer& transfer = *static_cast<Transfer*>(context);
  if (!transfer.started && !AcceptResponse(transfer)) return 0;
  transfer.received += count;
  Status result = (*transfer.sink)({reinterpret_cast<const std::uint8_t*>(data), count},
                                   transfer.received, AnnouncedForSink(transfer.announced));
  if (result) {
    transfer.stop = std::move(result);
    return 0;  // ends the transfer with CURLE_WRITE_ERROR
  }
  return count;
}

// The CA bundle that the curl tool would use from the environment.
void ApplyCaEnvironment(CURL* curl) {
  if (const char* bundle = std::getenv("CURL_CA_BUNDLE"); bundle != nullptr && *bundle != '\0') {
    curl_easy_setopt(curl, CURLOPT_CAINFO, bundle);
    return;
  }
  if (const char* folder = std::getenv("SSL_CERT_DIR"); folder != nullptr && *folder != '\0') {
    curl_easy_setopt(curl, CURLOPT_CAPATH, folder);
  }
  if (const char* file = std::getenv("SSL_CERT_FILE"); file != nullptr && *file != '\0') {
    curl_easy_setopt(curl, CURLOPT_CAINFO, file);
  }
}

// A body whose length differs from the announced one. An announced length
// beyond 32 bits is compared in full.
bool LengthHolds(std::uint64_t received, std::int64_t announced) {
  if (announced <= 0) return true;
  if (announced > UINT32_MAX) return received == static_cast<std::uint64_t>(announced);
  return BodyIsComplete(received, static_cast<std::uint32_t>(announced));
}

// The final response's status and cache headers.
void NoteResponse(CURL* curl, const Transfer& transfer, ResponseFacts& facts) {
  facts.status = ResponseStatus(curl);
  facts.size = transfer.received;
  facts.headers.clear();
  for (const char* name : kCacheHeaders) {
    std::string value;
    curl_header* header = nullptr;
    for (std::size_t index = 0;
         curl_easy_header(curl, name, index, CURLH_HEADER, -1, &header) == CURLHE_OK; ++index) {
      if (!value.empty()) value += ", ";
      value += header->value;
      if (index + 1 >= header->amount) break;
    }
    if (header != nullptr) facts.headers.emplace_back(name, std::move(value));
  }
}

Status Fetch(CURL* handle, Transfer& transfer, std::string_view address,
             std::ostream& diagnostics) {
  char error[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, error);
  const CURLcode code = curl_easy_perform(handle);
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, nullptr);
  if (transfer.stop) {
    return std::move(transfer.stop);
  }
  if (code == CURLE_OK) {
    // An empty body never reached the write callback.
    if (!transfer.started && !AcceptResponse(transfer)) return std::move(transfer.stop);
    if (!LengthHolds(transfer.received, transfer.announced)) {
      return TextFailure(kIncompleteBodyText);
    }
    return kSuccess;
  }

  diagnostics << "kestrova-channel: " << address << ": "
              << (error[0] != '\0' ? error : curl_easy_strerror(code)) << " (curl error "
              << static_cast<int>(code) << ")\n";
  if (code == CURLE_PARTIAL_FILE) {
    return TextFailure(kIncompleteBodyText);
  }
  if (!transfer.started) {
    // Nothing of a response arrived: the server was not reached. A status
    // other than 200 is the verdict even when its body broke off.
    const std::uint32_t status = ResponseStatus(handle);
    if (status == 0) return Failure{ServerUnreachableText(code)};
    if (status != 200) return Failure{ServerAnsweredText(status)};
  }
  return Failure{ConnectionBrokeText(code)};
}

}  // namespace

const std::string* ResponseFacts::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (key == name) return &value;
  }
  return nullptr;
}

Status CurlFetch(std::string_view url, const ChunkSink& sink, std::ostream& diagnostics,
                 const FetchSetup& setup, ResponseFacts* facts) {
  static const CURLcode globalInit = curl_global_init(CURL_GLOBAL_DEFAULT);
  if (globalInit != CURLE_OK) return Failure{NoInternetText(globalInit)};
  CurlHandle curl(curl_easy_init());
  if (!curl) return Failure{NoInternetText(CURLE_FAILED_INIT)};

  Transfer transfer;
  transfer.curl = curl.get();
  transfer.sink = &sink;
  const std::string address(url);
  const std::string userAgent(kUserAgent);

  CURL* handle = curl.get();
  curl_easy_setopt(handle, CURLOPT_URL, address.c_str());
  curl_easy_setopt(handle, CURLOPT_USERAGENT, userAgent.c_str());
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(handle, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, kConnectSeconds);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
  curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, kBufferSize);
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &ReceiveBody);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
  ApplyCaEnvironment(handle);
  CurlList resolve;
  for (const std::string& entry : setup.resolve) {
    curl_slist* longer = curl_slist_append(resolve.get(), entry.c_str());
    if (longer == nullptr) return Failure{NoInternetText(CURLE_OUT_OF_MEMORY)};
    resolve.release();
    resolve = CurlList(longer);
  }
  if (resolve) curl_easy_setopt(handle, CURLOPT_RESOLVE, resolve.get());

  Status result = Fetch(handle, transfer, address, diagnostics);
  if (facts != nullptr) NoteResponse(handle, transfer, *facts);
  return result;
}

}  // namespace kestrova::channel
