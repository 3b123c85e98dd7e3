#pragma once

#include <string>
#include <variant>

namespace kestrova {

// The worker's result for the launcher.
// The downloaded, complete and verified installer; its path as Windows gives
// it (UTF-16, possibly with unpaired surrogates).
struct Ready {
  std::wstring installerPath;
};

// The first failure of the run: a UTF-8 text that ends the failure box's
// sentence, without a final full stop.
struct Failed {
  std::string failureText;
};

using InstallOutcome = std::variant<Ready, Failed>;

}  // namespace kestrova
