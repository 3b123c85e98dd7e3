// plant_control: a program without any defence against planted DLLs, to show
// that the plants beside it are loaded. It imports WinINet (its first
// function) and loads each DLL named on its command line by its bare name.
//
//   plant_control NAME.dll...
//
// Exit codes: 0 always; what was loaded is what the plants record.
#include <windows.h>

#include <wininet.h>

int wmain(int count, wchar_t** arguments) {
  // The import alone makes the loader resolve WinINet when the process starts.
  volatile auto imported = &InternetOpenW;
  (void)imported;
  for (int i = 1; i < count; ++i) LoadLibraryW(arguments[i]);
  return 0;
}
