#pragma once

// Files and data of the worker's Windows tests: a fresh temporary folder for
// the test process, file contents, and the body pattern of the test server.

#include <windows.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kestrova::test {

// Points TEMP and TMP of this process at a fresh folder under the current
// one, so that the temporary folder Windows reports is that folder (without
// its final "\").
inline std::wstring UseFreshTempFolder(const wchar_t* name) {
  wchar_t current[MAX_PATH + 1] = {};
  GetCurrentDirectoryW(MAX_PATH, current);
  const std::wstring folder =
      std::wstring(current) + L"\\" + name + L"-" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(folder.c_str(), nullptr);
  SetEnvironmentVariableW(L"TEMP", folder.c_str());
  SetEnvironmentVariableW(L"TMP", folder.c_str());
  return folder;
}

inline bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The size of the file as the system reports it right now; -1 when absent.
inline std::int64_t FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

inline std::vector<std::uint8_t> ReadWholeFile(const std::wstring& path) {
  std::vector<std::uint8_t> bytes;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  std::uint8_t piece[65536];
  DWORD count = 0;
  while (ReadFile(file, piece, sizeof(piece), &count, nullptr) && count > 0) {
    bytes.insert(bytes.end(), piece, piece + count);
  }
  CloseHandle(file);
  return bytes;
}

inline void WriteWholeFile(const std::wstring& path, const std::string& content) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  CloseHandle(file);
}

// The test server's body: byte i is i % 251.
inline std::vector<std::uint8_t> Pattern(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i % 251);
  return bytes;
}

}  // namespace kestrova::test
