#include "tools/channel/progress_bar.h"

#include <unistd.h>

#include <algorithm>
#include <string>

#include "worker/progress_text.h"

namespace kestrova::channel {
namespace {

constexpr std::uint64_t kBarWidth = 30;

}  // namespace

ProgressBar::ProgressBar(std::FILE* terminal)
    : terminal_(isatty(fileno(terminal)) ? terminal : nullptr), shownMiB_(kNothingShownMiB) {}

ProgressBar::~ProgressBar() {
  if (drawn_) std::fputc('\n', terminal_);
}

void ProgressBar::Show(std::uint64_t received, std::uint32_t announced) {
  if (terminal_ == nullptr) return;
  const auto update = NextProgressUpdate(shownMiB_, received, announced);
  if (!update) return;
  std::string line = "\r";
  if (update->position) {
    const std::uint64_t percent = std::min<std::uint64_t>(*update->position, 100);
    const std::uint64_t filled = percent * kBarWidth / 100;
    line += "[" + std::string(filled, '#') + std::string(kBarWidth - filled, ' ') + "] ";
    line += std::to_string(percent) + "% ";
  }
  line += update->text;
  line += "\x1b[K";  // clears what a longer line left
  std::fputs(line.c_str(), terminal_);
  std::fflush(terminal_);
  drawn_ = true;
}

}  // namespace kestrova::channel
