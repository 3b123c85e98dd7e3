#pragma once

#include <windows.h>

namespace kestrova {

// Loads the system DLL `name` (a bare file name such as L"wininet.dll") from
// the system folder, or from the side-by-side assembly that the program's
// manifest binds it to (the common controls); never from the program's own
// folder or the current one. The DLL stays loaded for the life of the process.
// Null on failure, with GetLastError telling why.
HMODULE LoadSystemLibrary(const wchar_t* name);

// Looks up the exported function `name` of `module` as the type of `entry`.
// False, with GetLastError telling why, when the DLL does not have it.
template <typename Function>
bool FindEntry(HMODULE module, const char* name, Function*& entry) {
  // Through the generic function type, which every function type may be cast
  // to and from.
  entry = reinterpret_cast<Function*>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
  return entry != nullptr;
}

}  // namespace kestrova
