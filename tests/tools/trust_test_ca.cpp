// Makes a test CA trusted in the Wine prefix it runs in (and nowhere else):
//   trust_test_ca.exe CA.DER
// adds the DER certificate to the system store "Root". Exit code 0 when it is
// there, 1 otherwise. Adding it again is harmless.
#include <windows.h>

#include <wincrypt.h>

#include <cstdio>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  FILE* file = _wfopen(argv[1], L"rb");
  if (file == nullptr) return 1;
  std::vector<BYTE> der;
  BYTE piece[4096];
  for (size_t count; (count = fread(piece, 1, sizeof(piece), file)) > 0;) {
    der.insert(der.end(), piece, piece + count);
  }
  fclose(file);
  if (der.empty()) return 1;
  const BOOL added =
      CertAddEncodedCertificateToSystemStoreW(L"Root", der.data(), static_cast<DWORD>(der.size()));
  return added ? 0 : 1;
}
