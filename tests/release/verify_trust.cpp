// Asks Windows whether files carry a valid Authenticode signature:
//   verify_trust.exe FILE...
// prints, for each FILE, one line "0xXXXXXXXX FILE" with what WinVerifyTrust
// (WINTRUST_ACTION_GENERIC_VERIFY_V2, no UI, no revocation check) answered:
// 0 for a valid signature, else the HRESULT (e.g. TRUST_E_BAD_DIGEST,
// TRUST_E_NOSIGNATURE). Exit code 0 once every file was asked about, 2 on a
// wrong command line.
#include <windows.h>

#include <softpub.h>
#include <wintrust.h>

#include <cstdio>
#include <cwchar>

namespace {

LONG VerifyFile(const wchar_t* path) {
  WINTRUST_FILE_INFO file = {};
  file.cbStruct = sizeof(file);
  file.pcwszFilePath = path;
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.dwProvFlags = WTD_REVOCATION_CHECK_NONE;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG result = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  for (int i = 1; i < argc; ++i) {
    const LONG result = VerifyFile(argv[i]);
    std::wprintf(L"0x%08lX %ls\n", static_cast<unsigned long>(result), argv[i]);
  }
  std::fflush(stdout);
  return 0;
}
