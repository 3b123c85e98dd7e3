// The process entry: keeps planted DLLs out, reads the command line, runs the
// progress dialog (whose worker does the whole job) and acts on the outcome.
#include <windows.h>

#include "dialog/progress_dialog.h"
#include "launcher/command_line.h"
#include "launcher/handle_outcome.h"
#include "launcher/process_command_line.h"
#include "launcher/restrict_dll_search.h"

// The C runtime's own entry, which initialises the runtime and calls wWinMain.
extern "C" int WinMainCRTStartup();

// The entry point of the image (the link names it): the DLL search is
// restricted before the runtime or anything else runs.
extern "C" int KestrovaEntry() {
  kestrova::RestrictDllSearch();
  return WinMainCRTStartup();
}

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
