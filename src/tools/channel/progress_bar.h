#pragma once

#include <cstdint>
#include <cstdio>

namespace kestrova::channel {

// The download's progress on a terminal: one line on stderr, redrawn in
// place for every whole MiB with the program's own progress text
// ("Скачано X из Y МБ"), and a bar when the length was announced. Shows
// nothing when stderr is not a terminal.
class ProgressBar {
 public:
  explicit ProgressBar(std::FILE* terminal);
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;
  // Ends the line if anything was drawn.
  ~ProgressBar();

  void Show(std::uint64_t received, std::uint32_t announced);

 private:
  std::FILE* terminal_;  // null: not a terminal
  std::uint64_t shownMiB_;
  bool drawn_ = false;
};

}  // namespace kestrova::channel
