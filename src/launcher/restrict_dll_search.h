#pragma once

namespace kestrova {

// Keeps DLLs in the program's folder (typically the user's Downloads) and in
// the current folder out of the process: every DLL that is loaded later, by
// the program or by system code on its behalf, comes from the system folder.
// Called before anything else in the process can load a DLL.
void RestrictDllSearch();

}  // namespace kestrova
