#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/channel/curl_fetch.h"
#include "tools/channel/exit_code.h"

namespace kestrova::channel {

// What check found, for its verdict line or its JSON document.
struct CheckReport {
  std::string channelUrl;
  ResponseFacts channel;
  std::optional<std::string> installerUrl;  // once the channel named one
  ResponseFacts installer;
  std::string keyId;  // the key checked against
  std::optional<std::string> trustedComment;
  std::vector<std::string> warnings;
  ExitCode exitCode = ExitCode::kDone;
  std::optional<std::string> failure;  // the program's text, or the local problem
};

// The report as one JSON document (see kestrova-channel --help), with a final
// line feed.
std::string CheckReportJson(const CheckReport& report);

}  // namespace kestrova::channel
