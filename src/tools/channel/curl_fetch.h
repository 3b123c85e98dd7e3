#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/result.h"
#include "worker/http_fetch.h"

namespace kestrova::channel {

// Fetches url through libcurl the way the program's own fetch does, with its
// user agent, its rules and its failure texts: status 200 only, the body
// handed to sink chunk by chunk, the announced length honoured. HTTPS checks
// the server against the system's CA store, or against the bundle that
// CURL_CA_BUNDLE (else SSL_CERT_FILE, SSL_CERT_DIR) names, as the curl tool
// does; the proxy variables (https_proxy, no_proxy, ...) work as in curl.
// Redirects are followed, at most 10. A connection that stalls for 60 s fails.
//
// Failure texts, as the program's fetch gives them:
//   no response at all (name, connection, TLS, proxy): "сервер kestrova.ai
//     недоступен (код N)", N being curl's error code;
//   a status other than 200: "сервер ответил S";
//   the transfer broke off: "связь оборвалась (код N)";
//   fewer (or more) bytes than announced: "файл скачался не целиком";
//   the sink's own text, unchanged.
// curl's own description of a failure goes to diagnostics, one line.
//
// resolve takes curl's HOST:PORT:ADDRESS entries (CURLOPT_RESOLVE), so that
// one edge of a CDN can be asked under the site's real name.
struct FetchSetup {
  std::vector<std::string> resolve;
};

// What the final response of a fetch showed: its status (0 when none came),
// the body bytes received and the headers a cache goes by, names in lower
// case, only those present (several of one name joined by ", ").
struct ResponseFacts {
  std::uint32_t status = 0;
  std::uint64_t size = 0;
  std::vector<std::pair<std::string, std::string>> headers;

  // The header's value, or nothing.
  const std::string* Header(std::string_view name) const;
};

Status CurlFetch(std::string_view url, const ChunkSink& sink, std::ostream& diagnostics,
                 const FetchSetup& setup = {}, ResponseFacts* facts = nullptr);

}  // namespace kestrova::channel
