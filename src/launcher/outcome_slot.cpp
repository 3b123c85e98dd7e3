#include "launcher/outcome_slot.h"

#include <windows.h>

#include <memory>
#include <utility>

namespace kestrova {
namespace {

// Both are constant-initialised and trivially destructible: no static
// initialiser and no exit-time destructor. The content lives on the heap and
// only its pointer moves under the lock.
constinit SRWLOCK slotLock = SRWLOCK_INIT;
constinit InstallOutcome* slotContent = nullptr;

InstallOutcome* Exchange(InstallOutcome* content) {
  AcquireSRWLockExclusive(&slotLock);
  InstallOutcome* previous = slotContent;
  slotContent = content;
  ReleaseSRWLockExclusive(&slotLock);
  return previous;
}

}  // namespace

void OutcomeSlot::Store(InstallOutcome outcome) {
  auto content = std::make_unique<InstallOutcome>(std::move(outcome));
  std::unique_ptr<InstallOutcome> previous(Exchange(content.release()));
}

std::optional<InstallOutcome> OutcomeSlot::Take() {
  std::unique_ptr<InstallOutcome> content(Exchange(nullptr));
  if (!content) return std::nullopt;
  return std::move(*content);
}

}  // namespace kestrova
