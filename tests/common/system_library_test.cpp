#include "common/system_library.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cwctype>
#include <string>

#include "worker/wininet_entries.h"

namespace kestrova {
namespace {

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

TEST(SystemLibrary, LoadsFromTheSystemFolderOrFailsWithTheLoadersCode) {
  wchar_t folder[MAX_PATH];
  const std::wstring system(folder, GetSystemDirectoryW(folder, MAX_PATH));

  const HMODULE winInet = LoadSystemLibrary(L"wininet.dll");
  ASSERT_NE(winInet, nullptr);
  std::wstring path(MAX_PATH, L'\0');
  path.resize(GetModuleFileNameW(winInet, path.data(), MAX_PATH));
  EXPECT_EQ(Lower(path), Lower(system + L"\\wininet.dll"));

  SetLastError(0);
  EXPECT_EQ(LoadSystemLibrary(L"kestrova-no-such-library.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

  void (*missing)() = nullptr;
  EXPECT_FALSE(FindEntry(winInet, "KestrovaNoSuchFunction", missing));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_EQ(missing, nullptr);
}

TEST(SystemLibrary, WinInetEntriesAreAllThere) {
  DWORD error = 1;
  const WinInetEntries* entries = LoadWinInet(error);
  ASSERT_NE(entries, nullptr);
  EXPECT_EQ(error, 0u);
  EXPECT_EQ(LoadWinInet(error), entries) << "loaded once";
  EXPECT_NE(entries->InternetOpenW, nullptr);
  EXPECT_NE(entries->InternetOpenUrlW, nullptr);
  EXPECT_NE(entries->HttpQueryInfoW, nullptr);
  EXPECT_NE(entries->InternetReadFile, nullptr);
  EXPECT_NE(entries->InternetCloseHandle, nullptr);
}

}  // namespace
}  // namespace kestrova
