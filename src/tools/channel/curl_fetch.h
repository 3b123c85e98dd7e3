#pragma once

#include <ostream>
#include <string_view>

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
Status CurlFetch(std::string_view url, const ChunkSink& sink, std::ostream& diagnostics);

}  // namespace kestrova::channel
