#include "worker/installer_path.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrova {
namespace {

TEST(InstallerPath, JoinsFolderAndName) {
  const struct {
    std::u16string folder;
    std::u16string path;
  } cases[] = {
      {u"C:\\Users\\u\\AppData\\Local\\Temp\\",
       u"C:\\Users\\u\\AppData\\Local\\Temp\\KestrovaAI-install.exe"},
      {u"C:\\Temp", u"C:\\Temp\\KestrovaAI-install.exe"},
      {u"Z:/tmp/", u"Z:/tmp/KestrovaAI-install.exe"},
      {u"C:\\Временная", u"C:\\Временная\\KestrovaAI-install.exe"},
      {u"", u"\\KestrovaAI-install.exe"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(InstallerPathIn(c.folder), c.path);
  }
  EXPECT_EQ(kInstallerFileName.size(), 22u);
}

}  // namespace
}  // namespace kestrova
