#pragma once

#include <string>
#include <vector>

namespace kestrova {

// The full path of the program's own module (GetModuleFileNameW, the buffer
// doubled from 512 units while too small); empty when it cannot be read.
std::u16string ReadModulePath();

// The process's own command line (GetCommandLineW), split into arguments.
std::vector<std::u16string> SplitProcessCommandLine();

}  // namespace kestrova
