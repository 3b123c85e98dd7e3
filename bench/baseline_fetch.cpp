// The benchmark's baseline: reads one URL with the same WinINet calls and the
// same buffer as the setup program's download, but neither hashes nor writes
// what it reads. Prints the number of bytes read and the HTTP status.
//
//   baseline_fetch URL
//
// Exit code 0 when the status was 200 and the body ended cleanly, 1 otherwise.
#include <windows.h>

#include <wininet.h>

#include <cstdio>
#include <vector>

namespace {

constexpr DWORD kRequestFlags =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI;
static_assert(kRequestFlags == 0x84000200);
constexpr DWORD kBufferSize = 65536;

DWORD QueryNumber(HINTERNET request, DWORD level) {
  DWORD value = 0;
  DWORD size = sizeof(value);
  HttpQueryInfoW(request, level | HTTP_QUERY_FLAG_NUMBER, &value, &size, nullptr);
  return value;
}

int Fetch(HINTERNET internet, const wchar_t* url) {
  HINTERNET request = InternetOpenUrlW(internet, url, nullptr, 0, kRequestFlags, 0);
  if (request == nullptr) {
    std::printf("open failed %lu\n", GetLastError());
    return 1;
  }
  const DWORD status = QueryNumber(request, HTTP_QUERY_STATUS_CODE);
  std::vector<unsigned char> buffer(kBufferSize);
  unsigned long long received = 0;
  bool clean = true;
  for (;;) {
    DWORD count = 0;
    if (!InternetReadFile(request, buffer.data(), kBufferSize, &count)) {
      std::printf("read failed %lu\n", GetLastError());
      clean = false;
      break;
    }
    if (count == 0) break;
    received += count;
  }
  InternetCloseHandle(request);
  std::printf("status %lu bytes %llu\n", status, received);
  return clean && status == 200 ? 0 : 1;
}

}  // namespace

int wmain(int count, wchar_t** arguments) {
  if (count != 2) {
    std::printf("usage: baseline_fetch URL\n");
    return 2;
  }
  HINTERNET internet =
      InternetOpenW(L"KestrovaAI-setup", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (internet == nullptr) {
    std::printf("InternetOpenW failed %lu\n", GetLastError());
    return 1;
  }
  const int result = Fetch(internet, arguments[1]);
  InternetCloseHandle(internet);
  return result;
}
