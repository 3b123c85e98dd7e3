#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace kestrova {

// A rectangle in virtual-screen pixels: a monitor's work area or a window.
struct ScreenRect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;
};

// One work area per display monitor, in the order the system reported them
// until sorted.
using WorkAreaList = std::vector<ScreenRect>;

// Where a window's top-left corner goes.
struct WindowPosition {
  std::int32_t x = 0;
  std::int32_t y = 0;
};

// The monitor number in LF_SCREEN's value: at most one leading '+', then one
// or more ASCII digits and nothing else (leading zeros allowed). The number
// must fit in 64 unsigned bits; a larger one is rejected, never wrapped.
// Anything that is not one of those characters, including an unpaired
// surrogate, rejects the value.
std::optional<std::uint64_t> ParseMonitorNumber(std::u16string_view value);

// Monitor order: ascending by left edge, then by top edge; areas with equal
// left and top edges keep their order.
void SortWorkAreas(WorkAreaList& areas);

// The area that a monitor number names in sorted areas: number 1 is the first
// area, and 0 names the first area too. Nothing when there is no such area.
std::optional<ScreenRect> ChooseWorkArea(const WorkAreaList& sortedAreas, std::uint64_t number);

// The top-left corner that centres the window on the area:
// x = (area.left + area.right - width) / 2, y likewise with top, bottom and
// height, each division truncating toward zero. The sums are formed without
// overflow in 64 bits; a result outside the signed 32-bit range is clamped to
// its nearest end.
WindowPosition CentreOnWorkArea(const ScreenRect& area, const ScreenRect& window);

}  // namespace kestrova
