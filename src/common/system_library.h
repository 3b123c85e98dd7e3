#pragma once

#include <windows.h>

namespace kestrova {

// kernel32's SetDefaultDllDirectories, or null on a system without the
// loader's search flags (Vista, and 7 without its loader update KB2533623).
// This is the one test of whether the loader knows LOAD_LIBRARY_SEARCH_*.
using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
SetDefaultDllDirectoriesFunction FindSetDefaultDllDirectories();

// Loads the system DLL `name` (a bare file name such as L"wininet.dll") from
// the system folder, or from the side-by-side assembly that the program's
// manifest binds it to (the common controls); never from the program's own
// folder or the current one. The DLL stays loaded for the life of the process.
// Null on failure, with GetLastError telling why. Where the loader lacks the
// search flags (searchFlags false), the DLL is taken by its full path in the
// system folder, or by name from its side-by-side assembly.
HMODULE LoadSystemLibrary(const wchar_t* name,
                          bool searchFlags = FindSetDefaultDllDirectories() != nullptr);

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
