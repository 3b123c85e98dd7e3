// split_child: splits its own command line (GetCommandLineW) the way the
// program does and prints the result on standard output:
//   "noRun=0" or "noRun=1", then one line per argument with its UTF-16 code
//   units as 4 hex digits each (an empty argument is an empty line).
// With the one argument "--read-null" (or "--read-empty") it prints what a
// missing (empty) command line gives instead.
#include <windows.h>

#include <string>
#include <vector>

#include "launcher/command_line.h"
#include "launcher/process_command_line.h"
#include "tools/test_process.h"

namespace {

void Print(const std::string& text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written,
            nullptr);
}

}  // namespace

int wmain() {
  std::vector<std::u16string> arguments = kestrova::SplitProcessCommandLine();
  if (arguments.size() == 2 && arguments[1] == u"--read-null") {
    arguments = kestrova::SplitCommandLine(nullptr, &kestrova::ReadModulePath);
  } else if (arguments.size() == 2 && arguments[1] == u"--read-empty") {
    arguments = kestrova::SplitCommandLine(u"", &kestrova::ReadModulePath);
  }
  std::string out = kestrova::HasNoRunSwitch(arguments) ? "noRun=1\n" : "noRun=0\n";
  for (const std::u16string& argument : arguments)
    out += kestrova::test_process::Hex(argument) + "\n";
  Print(out);
  return 0;
}
