#include "worker/progress_text.h"

namespace kestrova {

std::uint64_t WholeMiB(std::uint64_t bytes) { return bytes >> 20; }

std::uint64_t ProgressPercent(std::uint64_t received, std::uint32_t announced) {
  return received * 100 / announced;
}

std::string ProgressText(std::uint64_t received, std::uint32_t announced) {
  std::string text = "Скачано " + std::to_string(WholeMiB(received));
  if (announced != 0) {
    text += " из ";
    text += std::to_string(WholeMiB(announced));
  }
  text += " МБ";
  return text;
}

std::optional<ProgressUpdate> NextProgressUpdate(std::uint64_t& shownMiB, std::uint64_t received,
                                                 std::uint32_t announced) {
  const std::uint64_t mib = WholeMiB(received);
  if (mib == shownMiB) return std::nullopt;
  shownMiB = mib;
  ProgressUpdate update;
  if (announced != 0) update.position = ProgressPercent(received, announced);
  update.text = ProgressText(received, announced);
  return update;
}

}  // namespace kestrova
