#include "dialog/monitor_choice.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace kestrova {
namespace {

constexpr std::int32_t kMin32 = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax32 = std::numeric_limits<std::int32_t>::max();

struct ParseCase {
  std::u16string value;
  std::optional<std::uint64_t> number;
};

TEST(ParseMonitorNumber, AcceptsOnlyAnOptionalPlusAndDigits) {
  const std::vector<ParseCase> cases = {
      {u"", std::nullopt},
      {u"+", std::nullopt},
      {u"-", std::nullopt},
      {u"-1", std::nullopt},
      {u" 2", std::nullopt},
      {u"2 ", std::nullopt},
      {u"\t2", std::nullopt},
      {u"2.0", std::nullopt},
      {u"0x2", std::nullopt},
      {u"++2", std::nullopt},
      {u"+-2", std::nullopt},
      {u"2+", std::nullopt},
      {u"2a", std::nullopt},
      {u"a2", std::nullopt},
      {u"\uFF12", std::nullopt},                               // FULLWIDTH DIGIT TWO
      {u"\u0662", std::nullopt},                               // ARABIC-INDIC DIGIT TWO
      {std::u16string{u'2', char16_t{0xD800}}, std::nullopt},  // unpaired high surrogate
      {std::u16string{char16_t{0xDC00}, u'2'}, std::nullopt},  // unpaired low surrogate
      {std::u16string(u"2\0", 2), std::nullopt},
      {u"0", 0},
      {u"1", 1},
      {u"2", 2},
      {u"+2", 2},
      {u"002", 2},
      {u"+0", 0},
      {u"000", 0},
      {u"4294967297", 4294967297ULL},
      {u"18446744073709551615", 18446744073709551615ULL},
      {u"+018446744073709551615", 18446744073709551615ULL},
      {u"18446744073709551616", std::nullopt},
      {u"18446744073709551620", std::nullopt},
      {u"99999999999999999999", std::nullopt},
      {u"184467440737095516150", std::nullopt},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(std::string(c.value.begin(), c.value.end()));
    EXPECT_EQ(ParseMonitorNumber(c.value), c.number);
  }
}

// Which area each number names, from the parsed value to the chosen area.
TEST(ChooseWorkArea, NumbersCountFromOneAndZeroIsTheFirst) {
  const WorkAreaList areas = {{0, 0, 1280, 800}, {1280, 0, 2560, 1040}};
  struct Case {
    std::u16string value;
    std::optional<std::int32_t> chosenLeft;
  };
  const std::vector<Case> cases = {
      {u"0", 0},
      {u"1", 0},
      {u"+1", 0},
      {u"2", 1280},
      {u"+2", 1280},
      {u"002", 1280},
      {u"3", std::nullopt},
      {u"4294967297", std::nullopt},
      {u"4294967296", std::nullopt},
      {u"18446744073709551615", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.value.begin(), c.value.end()));
    const std::optional<std::uint64_t> number = ParseMonitorNumber(c.value);
    ASSERT_TRUE(number.has_value());
    const std::optional<ScreenRect> chosen = ChooseWorkArea(areas, *number);
    ASSERT_EQ(chosen.has_value(), c.chosenLeft.has_value());
    if (chosen) {
      EXPECT_EQ(chosen->left, *c.chosenLeft);
    }
  }
}

TEST(ChooseWorkArea, NoAreasNamesNothing) {
  EXPECT_FALSE(ChooseWorkArea({}, 0).has_value());
  EXPECT_FALSE(ChooseWorkArea({}, 1).has_value());
}

TEST(ChooseWorkArea, OneAreaOnlyForZeroAndOne) {
  const WorkAreaList areas = {{0, 0, 1280, 800}};
  EXPECT_TRUE(ChooseWorkArea(areas, 0).has_value());
  EXPECT_TRUE(ChooseWorkArea(areas, 1).has_value());
  EXPECT_FALSE(ChooseWorkArea(areas, 2).has_value());
  EXPECT_FALSE(ChooseWorkArea(areas, std::numeric_limits<std::uint64_t>::max()).has_value());
}

// Areas are told apart by their right edge, which the order ignores.
std::vector<std::int32_t> RightEdges(const WorkAreaList& areas) {
  std::vector<std::int32_t> edges;
  for (const ScreenRect& area : areas) {
    edges.push_back(area.right);
  }
  return edges;
}

struct SortCase {
  const char* name;
  WorkAreaList areas;
  std::vector<std::int32_t> sortedRights;
};

TEST(SortWorkAreas, LeftToRightThenTopToBottomStable) {
  const std::vector<SortCase> cases = {
      {"empty", {}, {}},
      {"one", {{5, 5, 1, 1}}, {1}},
      {"monitor left of the primary comes first", {{0, 0, 1, 1040}, {-1920, 0, 2, 1040}}, {2, 1}},
      {"three across, reported out of order",
       {{1920, 0, 1, 0}, {-1920, 0, 2, 0}, {0, 0, 3, 0}},
       {2, 3, 1}},
      {"stacked with the same left edge: upper first",
       {{0, 0, 1, 0}, {0, -1080, 2, 0}, {0, 1080, 3, 0}},
       {2, 1, 3}},
      {"negative edges compare signed",
       {{-1, 0, 1, 0}, {-2147483647 - 1, 0, 2, 0}, {2147483647, 0, 3, 0}, {0, 0, 4, 0}},
       {2, 1, 4, 3}},
      {"left edge decides before top", {{10, -500, 1, 0}, {-10, 500, 2, 0}}, {2, 1}},
      {"equal left and top keep the reported order",
       {{0, 0, 1, 0}, {-5, 7, 2, 0}, {0, 0, 3, 0}, {-5, 7, 4, 0}, {0, 0, 5, 0}},
       {2, 4, 1, 3, 5}},
      {"right and bottom play no part", {{0, 0, 9, 9}, {0, 0, 1, 1}, {0, 0, 5, -5}}, {9, 1, 5}},
      {"taskbar on the left moves a work area's left edge",
       {{1920 + 62, 0, 1, 1040}, {1920, 0, 2, 1040}},
       {2, 1}},
  };
  for (const SortCase& c : cases) {
    SCOPED_TRACE(c.name);
    WorkAreaList areas = c.areas;
    SortWorkAreas(areas);
    EXPECT_EQ(RightEdges(areas), c.sortedRights);
  }
}

// Long enough that a sort which is not stable would show it.
TEST(SortWorkAreas, ManyEqualCornersKeepTheirOrder) {
  WorkAreaList areas;
  for (std::int32_t i = 0; i < 300; ++i) {
    areas.push_back({(i * 7) % 3 - 1, (i * 5) % 2, i, 0});
  }
  SortWorkAreas(areas);
  ASSERT_EQ(areas.size(), 300u);
  for (std::size_t i = 1; i < areas.size(); ++i) {
    const ScreenRect& a = areas[i - 1];
    const ScreenRect& b = areas[i];
    ASSERT_TRUE(a.left < b.left || (a.left == b.left && a.top <= b.top)) << i;
    if (a.left == b.left && a.top == b.top) {
      ASSERT_LT(a.right, b.right) << i;
    }
  }
}

TEST(SortWorkAreas, NumberOneNamesTheLeftmostMonitor) {
  WorkAreaList areas = {{0, 0, 1920, 1040}, {-1920, 0, 0, 1040}};
  SortWorkAreas(areas);
  const std::optional<ScreenRect> first = ChooseWorkArea(areas, 1);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->left, -1920);
  EXPECT_EQ(first->right, 0);
}

struct CentreCase {
  const char* name;
  ScreenRect area;
  ScreenRect window;
  std::int32_t x;
  std::int32_t y;
};

TEST(CentreOnWorkArea, CentresWithDivisionTowardZero) {
  const std::vector<CentreCase> cases = {
      {"monitor left of the primary", {-1920, 0, 0, 1040}, {0, 0, 501, 200}, -1210, 420},
      {"window position does not matter", {-1920, 0, 0, 1040}, {300, -70, 801, 130}, -1210, 420},
      {"primary monitor", {0, 0, 1280, 800}, {10, 10, 510, 210}, 390, 300},
      {"odd positive sum rounds down", {0, 0, 1281, 801}, {0, 0, 500, 200}, 390, 300},
      {"odd negative sum rounds up", {-1281, -801, 0, 0}, {0, 0, 500, 200}, -890, -500},
      {"zero window puts its corner at the centre", {0, 0, 1280, 800}, {}, 640, 400},
      {"zero work area", {}, {0, 0, 501, 201}, -250, -100},
      {"window larger than the area", {0, 0, 100, 100}, {0, 0, 301, 300}, -100, -100},
      {"area above and left", {-3840, -2160, -1920, -1080}, {0, 0, 640, 480}, -3200, -1860},
  };
  for (const CentreCase& c : cases) {
    SCOPED_TRACE(c.name);
    const WindowPosition position = CentreOnWorkArea(c.area, c.window);
    EXPECT_EQ(position.x, c.x);
    EXPECT_EQ(position.y, c.y);
  }
}

TEST(CentreOnWorkArea, ExtremeEdgesNeitherOverflowNorWrap) {
  const std::vector<CentreCase> cases = {
      // The edge sum leaves 32 bits but the result does not.
      {"edge sum beyond 32 bits",
       {kMax32 - 1, kMax32 - 1, kMax32, kMax32},
       {0, 0, 0, 0},
       kMax32 - 1,
       kMax32 - 1},
      {"edge sum below 32 bits",
       {kMin32, kMin32, kMin32 + 2, kMin32 + 2},
       {},
       kMin32 + 1,
       kMin32 + 1},
      {"window width beyond 32 bits",
       {0, 0, 0, 0},
       {kMin32, kMin32, kMax32, kMax32},
       -2147483647,
       -2147483647},
      // Results beyond 32 bits are clamped to the nearest end.
      {"result above the range",
       {kMax32, kMax32, kMax32, kMax32},
       {kMax32, kMax32, kMin32, kMin32},
       kMax32,
       kMax32},
      {"result below the range",
       {kMin32, kMin32, kMin32, kMin32},
       {kMin32, kMin32, kMax32, kMax32},
       kMin32,
       kMin32},
  };
  for (const CentreCase& c : cases) {
    SCOPED_TRACE(c.name);
    const WindowPosition position = CentreOnWorkArea(c.area, c.window);
    EXPECT_EQ(position.x, c.x);
    EXPECT_EQ(position.y, c.y);
  }
}

}  // namespace
}  // namespace kestrova
