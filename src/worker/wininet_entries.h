#pragma once

#include <windows.h>

#include <wininet.h>

namespace kestrova {

// The WinINet functions that the fetch uses, taken from the system folder's
// wininet.dll when they are first needed (the program does not import
// WinINet, so a wininet.dll beside the program is never loaded).
struct WinInetEntries {
  decltype(&::InternetOpenW) InternetOpenW;
  decltype(&::InternetOpenUrlW) InternetOpenUrlW;
  decltype(&::HttpQueryInfoW) HttpQueryInfoW;
  decltype(&::InternetReadFile) InternetReadFile;
  decltype(&::InternetCloseHandle) InternetCloseHandle;
};

// The entries, loaded once for the life of the process. Null when the DLL or
// one of its functions cannot be had; `error` is then the load's error code.
const WinInetEntries* LoadWinInet(DWORD& error);

}  // namespace kestrova
