#include "worker/progress_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrova {
namespace {

constexpr std::uint64_t kMiB = 1048576;

TEST(ProgressText, WholeMiBAndPercentage) {
  const struct {
    std::uint64_t received;
    std::uint32_t announced;
    std::uint64_t mib;
    std::uint64_t percent;
  } cases[] = {
      {1, 1, 0, 100},
      {kMiB - 1, 3 * kMiB, 0, 33},
      {kMiB, 3 * kMiB, 1, 33},
      {3 * kMiB, 3 * kMiB, 3, 100},
      {3 * kMiB, 3670016, 3, 85},
      {65536, 100000, 0, 65},
      {200000, 100000, 0, 200},
      {UINT32_MAX, 1, 4095, 429496729500ull},  // 32-bit arithmetic would wrap
      {UINT64_MAX / 100, UINT32_MAX, UINT64_MAX / 100 >> 20, UINT64_MAX / 100 * 100 / UINT32_MAX},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WholeMiB(c.received), c.mib) << c.received;
    EXPECT_EQ(ProgressPercent(c.received, c.announced), c.percent) << c.received;
  }
}

TEST(ProgressText, Texts) {
  const struct {
    std::uint64_t received;
    std::uint32_t announced;
    const char* text;
  } cases[] = {
      {1, 0, "Скачано 0 МБ"},
      {kMiB - 1, 0, "Скачано 0 МБ"},
      {kMiB, 0, "Скачано 1 МБ"},
      {12 * kMiB + 5, 80 * kMiB, "Скачано 12 из 80 МБ"},
      {100, 1000, "Скачано 0 из 0 МБ"},
      {3 * kMiB, 3670016, "Скачано 3 из 3 МБ"},
      {UINT64_MAX, UINT32_MAX, "Скачано 17592186044415 из 4095 МБ"},
      {10ull << 30, 0, "Скачано 10240 МБ"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ProgressText(c.received, c.announced), c.text);
  }
}

struct Shown {
  std::optional<std::uint64_t> position;
  std::string text;
  bool operator==(const Shown&) const = default;
};

// Feeds chunks of the given sizes through the MiB rule and records what
// would be shown, as the sink shows it.
std::vector<Shown> RunRule(const std::vector<std::uint64_t>& chunks, std::uint32_t announced) {
  std::uint64_t shownMiB = kNothingShownMiB;
  std::uint64_t received = 0;
  std::vector<Shown> shown;
  for (std::uint64_t size : chunks) {
    received += size;
    if (auto update = NextProgressUpdate(shownMiB, received, announced)) {
      shown.push_back({update->position, update->text});
      EXPECT_EQ(shownMiB, WholeMiB(received));
    }
  }
  return shown;
}

std::vector<std::uint64_t> Chunks(std::uint64_t total, std::uint64_t size) {
  std::vector<std::uint64_t> chunks;
  for (; total > size; total -= size) chunks.push_back(size);
  chunks.push_back(total);
  return chunks;
}

TEST(ProgressText, MiBRule) {
  EXPECT_EQ(kNothingShownMiB, UINT64_MAX);
  const struct {
    std::vector<std::uint64_t> chunks;
    std::uint32_t announced;
    std::vector<Shown> shown;
  } cases[] = {
      {Chunks(3 * kMiB, 65536),
       3 * kMiB,
       {{2, "Скачано 0 из 3 МБ"},
        {33, "Скачано 1 из 3 МБ"},
        {66, "Скачано 2 из 3 МБ"},
        {100, "Скачано 3 из 3 МБ"}}},
      {Chunks(3670016, 65536),
       3670016,
       {{1, "Скачано 0 из 3 МБ"},
        {28, "Скачано 1 из 3 МБ"},
        {57, "Скачано 2 из 3 МБ"},
        {85, "Скачано 3 из 3 МБ"}}},
      {Chunks(500000, 65536), 500000, {{13, "Скачано 0 из 0 МБ"}}},
      {{500000}, 500000, {{100, "Скачано 0 из 0 МБ"}}},
      {Chunks(2 * kMiB + 7, 65536),
       0,
       {{std::nullopt, "Скачано 0 МБ"},
        {std::nullopt, "Скачано 1 МБ"},
        {std::nullopt, "Скачано 2 МБ"}}},
      // A body longer than announced: positions above 100 go out unchanged.
      {Chunks(3 * kMiB, 65536),
       kMiB,
       {{6, "Скачано 0 из 1 МБ"},
        {100, "Скачано 1 из 1 МБ"},
        {200, "Скачано 2 из 1 МБ"},
        {300, "Скачано 3 из 1 МБ"}}},
      // A chunk that passes two MiB boundaries at once: one update.
      {{10, 2 * kMiB + 10}, 4 * kMiB, {{0, "Скачано 0 из 4 МБ"}, {50, "Скачано 2 из 4 МБ"}}},
      {{}, 100, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RunRule(c.chunks, c.announced), c.shown);
  }
}

}  // namespace
}  // namespace kestrova
