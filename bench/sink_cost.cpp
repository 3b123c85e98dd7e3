// What the setup program does with each downloaded chunk besides reading it,
// timed on its own under Wine: libsodium's BLAKE2b-512 update (the same
// library build as the program's, and like the program without sodium_init)
// and WriteFile of the chunk into a file, for SIZE bytes in 65,536-byte
// chunks. Prints "hash S write S" in seconds.
//
//   sink_cost FILE SIZE_MIB
#include <windows.h>

#include <sodium.h>

#include <cstdio>
#include <cwchar>
#include <vector>

namespace {

constexpr DWORD kChunkBytes = 65536;

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int wmain(int count, wchar_t** arguments) {
  if (count != 3) {
    std::printf("usage: sink_cost FILE SIZE_MIB\n");
    return 2;
  }
  const unsigned long long chunks = std::wcstoull(arguments[2], nullptr, 10) * 16;
  std::vector<unsigned char> chunk(kChunkBytes);
  for (DWORD i = 0; i < kChunkBytes; ++i) chunk[i] = static_cast<unsigned char>(i * 31 + 7);

  LARGE_INTEGER start;
  LARGE_INTEGER end;
  crypto_generichash_state state;
  crypto_generichash_init(&state, nullptr, 0, crypto_generichash_BYTES_MAX);
  QueryPerformanceCounter(&start);
  for (unsigned long long i = 0; i < chunks; ++i) {
    crypto_generichash_update(&state, chunk.data(), chunk.size());
  }
  unsigned char digest[crypto_generichash_BYTES_MAX];
  crypto_generichash_final(&state, digest, sizeof digest);
  QueryPerformanceCounter(&end);
  const double hash = Seconds(start, end);

  HANDLE file = CreateFileW(arguments[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::printf("CreateFileW failed %lu\n", GetLastError());
    return 1;
  }
  bool written = true;
  QueryPerformanceCounter(&start);
  for (unsigned long long i = 0; i < chunks && written; ++i) {
    DWORD done = 0;
    written = WriteFile(file, chunk.data(), kChunkBytes, &done, nullptr) && done == kChunkBytes;
  }
  CloseHandle(file);
  QueryPerformanceCounter(&end);
  DeleteFileW(arguments[1]);
  if (!written) {
    std::printf("WriteFile failed %lu\n", GetLastError());
    return 1;
  }
  std::printf("hash %.3f write %.3f digest %02x\n", hash, Seconds(start, end), digest[0]);
  return 0;
}
