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

// Both ways of loading: with the loader's search flags, and by full path as on
// a system without them. Each takes the system folder's DLL, and a missing one
// fails with the loader's code.
TEST(SystemLibrary, LoadsFromTheSystemFolderOrFailsWithTheLoadersCode) {
  wchar_t folder[MAX_PATH];
  const std::wstring system(folder, GetSystemDirectoryW(folder, MAX_PATH));
  EXPECT_NE(FindSetDefaultDllDirectories(), nullptr);

  // A DLL the process has not loaded yet for each way.
  const struct {
    bool searchFlags;
    const wchar_t* name;
  } ways[] = {{false, L"winhttp.dll"}, {true, L"wininet.dll"}};
  for (const auto& [searchFlags, name] : ways) {
    SCOPED_TRACE(searchFlags ? "search flags" : "full path");
    ASSERT_EQ(GetModuleHandleW(name), nullptr);
    const HMODULE module = LoadSystemLibrary(name, searchFlags);
    ASSERT_NE(module, nullptr);
    std::wstring path(MAX_PATH, L'\0');
    path.resize(GetModuleFileNameW(module, path.data(), MAX_PATH));
    EXPECT_EQ(Lower(path), Lower(system + L"\\" + name));

    SetLastError(0);
    EXPECT_EQ(LoadSystemLibrary(L"kestrova-no-such-library.dll", searchFlags), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

    void (*missing)() = nullptr;
    EXPECT_FALSE(FindEntry(module, "KestrovaNoSuchFunction", missing));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(missing, nullptr);
  }
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
