#include "worker/installer_path.h"

namespace kestrova {

std::u16string InstallerPathIn(std::u16string_view folder) {
  std::u16string path(folder);
  if (path.empty() || (path.back() != u'\\' && path.back() != u'/')) path += u'\\';
  path += kInstallerFileName;
  return path;
}

}  // namespace kestrova
