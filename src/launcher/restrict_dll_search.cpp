#include "launcher/restrict_dll_search.h"

#include <windows.h>

#include "common/system_library.h"

namespace kestrova {
namespace {

// Looked up at run time: the oldest systems that the program runs on lack them.
using SetSearchPathModeFunction = BOOL(WINAPI*)(DWORD);
using SetProcessMitigationPolicyFunction = BOOL(WINAPI*)(PROCESS_MITIGATION_POLICY, PVOID, SIZE_T);

}  // namespace

void RestrictDllSearch() {
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");

  // Windows 8 and later, and Vista and 7 with their loader update: the system
  // folder alone, for every later load and for the dependencies of the DLLs
  // loaded then. Without it, at least the current folder leaves the search;
  // the DLLs the program loads itself are then taken by their full path in the
  // system folder (LoadSystemLibrary).
  const SetDefaultDllDirectoriesFunction setDefaultDllDirectories = FindSetDefaultDllDirectories();
  if (setDefaultDllDirectories == nullptr ||
      !setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    SetDllDirectoryW(L"");
  }

  // SearchPathW looks in the current folder after the system's, for good.
  SetSearchPathModeFunction setSearchPathMode = nullptr;
  if (FindEntry(kernel, "SetSearchPathMode", setSearchPathMode)) {
    setSearchPathMode(BASE_SEARCH_PATH_ENABLE_SAFE_SEARCHMODE | BASE_SEARCH_PATH_PERMANENT);
  }

  // Windows 10 and later: a DLL of the system folder is preferred to one of
  // the same name in the program's folder, also for the loader's own imports.
  SetProcessMitigationPolicyFunction setMitigationPolicy = nullptr;
  if (FindEntry(kernel, "SetProcessMitigationPolicy", setMitigationPolicy)) {
    PROCESS_MITIGATION_IMAGE_LOAD_POLICY policy{};
    policy.PreferSystem32Images = 1;
    setMitigationPolicy(ProcessImageLoadPolicy, &policy, sizeof(policy));
  }
}

}  // namespace kestrova
