// outcome_runner: stores one outcome in the OutcomeSlot and hands over to
// HandleOutcome, as the program's entry does after its dialog; the switch is
// found by the program's own scan of this process's command line.
//   outcome_runner empty [--no-run]          nothing stored
//   outcome_runner ready PATH [--no-run]     Ready with PATH (UTF-16 units as given)
//   outcome_runner failed TEXT [--no-run]    Failed with TEXT (as UTF-8)
// Exit code: 0 when HandleOutcome returns; 1 when it ends the process; 2 for
// a wrong command line.
#include <windows.h>

#include <string>
#include <vector>

#include "common/utf16_text.h"
#include "launcher/command_line.h"
#include "launcher/handle_outcome.h"
#include "launcher/outcome_slot.h"
#include "launcher/process_command_line.h"

int wmain() {
  using namespace kestrova;
  const std::vector<std::u16string> arguments = SplitProcessCommandLine();
  const bool noRun = HasNoRunSwitch(arguments);
  if (arguments.size() < 2) return 2;
  const std::u16string& kind = arguments[1];
  if (kind == u"ready" && arguments.size() >= 3) {
    OutcomeSlot::Store(Ready{std::wstring(arguments[2].begin(), arguments[2].end())});
  } else if (kind == u"failed" && arguments.size() >= 3) {
    OutcomeSlot::Store(Failed{Utf16ToUtf8(arguments[2])});
  } else if (kind != u"empty") {
    return 2;
  }
  HandleOutcome(noRun);
  return 0;
}
