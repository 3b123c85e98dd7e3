// Makes a test CA trusted inside the current Wine prefix only: adds the DER
// certificate to the machine's Root store.
//
//   add_root_cert CERT.der
#include <windows.h>

#include <shellapi.h>
#include <wincrypt.h>

#include <vector>

int wmain() {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (arguments == nullptr || count != 2) {
    return 120;
  }
  HANDLE file = CreateFileW(arguments[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  LocalFree(arguments);
  if (file == INVALID_HANDLE_VALUE) {
    return 121;
  }
  std::vector<BYTE> der(65536);
  DWORD size = 0;
  const BOOL read = ReadFile(file, der.data(), static_cast<DWORD>(der.size()), &size, nullptr);
  CloseHandle(file);
  if (!read || size == 0) {
    return 122;
  }
  return CertAddEncodedCertificateToSystemStoreW(L"Root", der.data(), size) ? 0 : 123;
}
