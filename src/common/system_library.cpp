#include "common/system_library.h"

#include <string>

namespace kestrova {
namespace {

HMODULE LoadWithoutSearchFlags(const wchar_t* name) {
  // A name that the manifest's activation context redirects is loaded from
  // its side-by-side assembly, never from a folder, and only by its bare name.
  ACTCTX_SECTION_KEYED_DATA redirection{};
  redirection.cbSize = sizeof(redirection);
  if (FindActCtxSectionStringW(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, name,
                               &redirection)) {
    return LoadLibraryW(name);
  }
  // Anything else by its full path in the system folder; its own dependencies
  // are then looked for in that folder before the program's.
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  std::wstring path(folder, length);
  path.append(L"\\").append(name);
  return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace

SetDefaultDllDirectoriesFunction FindSetDefaultDllDirectories() {
  SetDefaultDllDirectoriesFunction entry = nullptr;
  FindEntry(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories", entry);
  return entry;
}

HMODULE LoadSystemLibrary(const wchar_t* name, bool searchFlags) {
  if (!searchFlags) return LoadWithoutSearchFlags(name);
  return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace kestrova
