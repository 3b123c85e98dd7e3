#include "signature/minisign_lines.h"

namespace kestrova {

std::vector<std::string_view> FirstLines(std::string_view text, std::size_t count) {
  std::vector<std::string_view> lines;
  while (!text.empty() && lines.size() < count) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) {
      lines.push_back(text);
      break;
    }
    std::string_view line = text.substr(0, end);
    if (line.ends_with('\r')) {
      line.remove_suffix(1);
    }
    lines.push_back(line);
    text.remove_prefix(end + 1);
  }
  return lines;
}

}  // namespace kestrova
