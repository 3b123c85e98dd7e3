#pragma once

#include <optional>

#include "launcher/install_outcome.h"

namespace kestrova {

// The one place where the worker leaves its outcome for the main thread.
// Empty from process start, with no start-up code; a lock guards it and is
// held only to move one value in or out.
class OutcomeSlot {
 public:
  OutcomeSlot() = delete;

  // Puts the outcome in, discarding what the slot held.
  static void Store(InstallOutcome outcome);

  // Moves the content out and leaves the slot empty.
  static std::optional<InstallOutcome> Take();
};

}  // namespace kestrova
