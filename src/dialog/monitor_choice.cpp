#include "dialog/monitor_choice.h"

#include <algorithm>
#include <limits>

namespace kestrova {
namespace {

std::int32_t ClampToInt32(std::int64_t value) {
  constexpr std::int64_t kLowest = std::numeric_limits<std::int32_t>::min();
  constexpr std::int64_t kHighest = std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(std::clamp(value, kLowest, kHighest));
}

// (near + far - extent) / 2, with extent = end - start, truncating toward zero.
std::int32_t CentredStart(std::int32_t nearEdge, std::int32_t farEdge, std::int32_t start,
                          std::int32_t end) {
  const std::int64_t extent = std::int64_t{end} - start;
  const std::int64_t sum = std::int64_t{nearEdge} + farEdge - extent;
  return ClampToInt32(sum / 2);
}

}  // namespace

std::optional<std::uint64_t> ParseMonitorNumber(std::u16string_view value) {
  if (!value.empty() && value.front() == u'+') {
    value.remove_prefix(1);
  }
  if (value.empty()) {
    return std::nullopt;
  }
  constexpr std::uint64_t kLargest = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t number = 0;
  for (const char16_t unit : value) {
    if (unit < u'0' || unit > u'9') {
      return std::nullopt;
    }
    const std::uint64_t digit = unit - u'0';
    if (number > (kLargest - digit) / 10) {
      return std::nullopt;
    }
    number = number * 10 + digit;
  }
  return number;
}

void SortWorkAreas(WorkAreaList& areas) {
  std::stable_sort(areas.begin(), areas.end(), [](const ScreenRect& a, const ScreenRect& b) {
    return a.left < b.left || (a.left == b.left && a.top < b.top);
  });
}

std::optional<ScreenRect> ChooseWorkArea(const WorkAreaList& sortedAreas, std::uint64_t number) {
  const std::uint64_t index = number == 0 ? 0 : number - 1;
  if (index >= sortedAreas.size()) {
    return std::nullopt;
  }
  return sortedAreas[static_cast<std::size_t>(index)];
}

WindowPosition CentreOnWorkArea(const ScreenRect& area, const ScreenRect& window) {
  return {CentredStart(area.left, area.right, window.left, window.right),
          CentredStart(area.top, area.bottom, window.top, window.bottom)};
}

}  // namespace kestrova
