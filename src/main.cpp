// The process entry: reads the command line, runs the progress dialog (whose
// worker does the whole job) and acts on the outcome.
#include <windows.h>

#include "dialog/progress_dialog.h"
#include "launcher/command_line.h"
#include "launcher/handle_outcome.h"
#include "launcher/process_command_line.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  bool noRun = false;
  {
    const auto arguments = kestrova::SplitProcessCommandLine();
    noRun = kestrova::HasNoRunSwitch(arguments);
  }
  kestrova::RunProgressDialog();
  kestrova::HandleOutcome(noRun);
  return 0;
}
