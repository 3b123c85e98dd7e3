#include "tools/channel/check_report.h"

#include <nlohmann/json.hpp>

namespace kestrova::channel {
namespace {

using Json = nlohmann::ordered_json;

Json ResponseJson(const std::string& url, const ResponseFacts& response) {
  Json headers = Json::object();
  for (const auto& [name, value] : response.headers) headers[name] = value;
  return Json{{"url", url},
              {"status", response.status},
              {"size", response.size},
              {"headers", std::move(headers)}};
}

const char* VerdictName(ExitCode code) {
  switch (code) {
    case ExitCode::kDone:
      return "verified";
    case ExitCode::kRefused:
      return "refused";
    default:
      return "error";
  }
}

}  // namespace

std::string CheckReportJson(const CheckReport& report) {
  Json document = Json::object();
  document["channel"] = ResponseJson(report.channelUrl, report.channel);
  document["installer"] =
      report.installerUrl ? ResponseJson(*report.installerUrl, report.installer) : Json();
  document["keyId"] = report.keyId;
  document["trustedComment"] = report.trustedComment ? Json(*report.trustedComment) : Json();
  document["warnings"] = report.warnings;
  document["verdict"] = VerdictName(report.exitCode);
  document["failure"] = report.failure ? Json(*report.failure) : Json();
  document["exitCode"] = static_cast<int>(report.exitCode);
  // Texts from a server need not be UTF-8; they are replaced, not refused.
  return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace kestrova::channel
