#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kestrova {

// The download progress in whole mebibytes, as the installer's sink shows it.

// The value of shownMiB before the first chunk: no real total reaches it, so
// the first chunk is always shown.
inline constexpr std::uint64_t kNothingShownMiB = UINT64_MAX;

// bytes / 1,048,576, rounded down.
std::uint64_t WholeMiB(std::uint64_t bytes);

// received * 100 / announced, rounded down, in 64 bits; above 100 when more
// arrived than announced. announced must not be 0.
std::uint64_t ProgressPercent(std::uint64_t received, std::uint32_t announced);

// "Скачано X из Y МБ" with an announced length (not 0), "Скачано X МБ" without.
std::string ProgressText(std::uint64_t received, std::uint32_t announced);

// What the dialog is to show for one chunk.
struct ProgressUpdate {
  std::optional<std::uint64_t> position;  // the bar, only with an announced length
  std::string text;
};

// The whole-MiB rule: an update when the received total in whole MiB differs
// from shownMiB, which then becomes that number; nothing otherwise.
std::optional<ProgressUpdate> NextProgressUpdate(std::uint64_t& shownMiB, std::uint64_t received,
                                                 std::uint32_t announced);

}  // namespace kestrova
