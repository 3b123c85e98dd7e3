#include "worker/wininet_entries.h"

#include "common/system_library.h"

namespace kestrova {
namespace {

struct LoadedWinInet {
  WinInetEntries entries{};
  DWORD error = 0;
  bool ok = false;
};

LoadedWinInet Load() {
  LoadedWinInet loaded;
  WinInetEntries& e = loaded.entries;
  const HMODULE module = LoadSystemLibrary(L"wininet.dll");
  loaded.ok = module != nullptr && FindEntry(module, "InternetOpenW", e.InternetOpenW) &&
              FindEntry(module, "InternetOpenUrlW", e.InternetOpenUrlW) &&
              FindEntry(module, "HttpQueryInfoW", e.HttpQueryInfoW) &&
              FindEntry(module, "InternetReadFile", e.InternetReadFile) &&
              FindEntry(module, "InternetCloseHandle", e.InternetCloseHandle);
  if (!loaded.ok) loaded.error = GetLastError();
  return loaded;
}

}  // namespace

const WinInetEntries* LoadWinInet(DWORD& error) {
  static const LoadedWinInet loaded = Load();
  error = loaded.error;
  return loaded.ok ? &loaded.entries : nullptr;
}

}  // namespace kestrova
