// PlaceOnMonitor on a real window under the test display's one monitor.
#include "dialog/place_on_monitor.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrova {
namespace {

constexpr int kStartX = 7;
constexpr int kStartY = 9;
constexpr int kWidth = 501;
constexpr int kHeight = 200;

// A hidden top-level window at (7, 9), 501 x 200, destroyed at the end.
class TestWindow {
 public:
  TestWindow()
      : window_(CreateWindowExW(0, L"STATIC", L"placement", WS_POPUP, kStartX, kStartY, kWidth,
                                kHeight, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr)) {}
  ~TestWindow() {
    if (window_ != nullptr) {
      DestroyWindow(window_);
    }
  }
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;

  HWND get() const { return window_; }

  RECT Rect() const {
    RECT rect{};
    GetWindowRect(window_, &rect);
    return rect;
  }

 private:
  HWND window_;
};

// LF_SCREEN for this process; null removes it.
class ScreenVariable {
 public:
  explicit ScreenVariable(const wchar_t* value) { SetEnvironmentVariableW(L"LF_SCREEN", value); }
  ~ScreenVariable() { SetEnvironmentVariableW(L"LF_SCREEN", nullptr); }
  ScreenVariable(const ScreenVariable&) = delete;
  ScreenVariable& operator=(const ScreenVariable&) = delete;
};

struct Case {
  const wchar_t* value;  // null: the variable is not set
  bool moved;
};

class PlaceOnMonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(GetSystemMetrics(SM_CMONITORS), 1);
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea_, 0));
    ASSERT_GT(workArea_.right - workArea_.left, kWidth);
    ASSERT_GT(workArea_.bottom - workArea_.top, kHeight);
  }

  // Where a 501 x 200 window centred on the work area has its corner.
  POINT Centred() const {
    return {(workArea_.left + workArea_.right - kWidth) / 2,
            (workArea_.top + workArea_.bottom - kHeight) / 2};
  }

  RECT workArea_{};
};

TEST_F(PlaceOnMonitorTest, MovesOnlyForTheOneMonitorsNumber) {
  const std::vector<Case> cases = {
      {nullptr, false},
      {L"", false},
      {L"1", true},
      {L"0", true},
      {L"+1", true},
      {L"001", true},
      {L"2", false},
      {L"+2", false},
      {L"-1", false},
      {L" 1", false},
      {L"1 ", false},
      {L"1.0", false},
      {L"0x1", false},
      {L"++1", false},
      {L"1a", false},
      {L"4294967297", false},
      {L"18446744073709551617", false},
      {L"18446744073709551616", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value == nullptr ? std::wstring(L"(not set)") : std::wstring(c.value));
    const ScreenVariable variable(c.value);
    const TestWindow window;
    ASSERT_NE(window.get(), nullptr);
    const RECT before = window.Rect();
    ASSERT_EQ(before.left, kStartX);
    ASSERT_EQ(before.top, kStartY);

    PlaceOnMonitor(window.get());

    const RECT after = window.Rect();
    const POINT expected = c.moved ? Centred() : POINT{kStartX, kStartY};
    EXPECT_EQ(after.left, expected.x);
    EXPECT_EQ(after.top, expected.y);
    EXPECT_EQ(after.right - after.left, kWidth);
    EXPECT_EQ(after.bottom - after.top, kHeight);
  }
}

// A value longer than any first guess at its length is read whole.
TEST_F(PlaceOnMonitorTest, ReadsLongValuesWhole) {
  const std::wstring ones = std::wstring(300, L'0') + L"1";
  const std::wstring twos = std::wstring(300, L'0') + L"2";
  struct LongCase {
    const std::wstring& value;
    bool moved;
  };
  for (const LongCase& c : {LongCase{ones, true}, LongCase{twos, false}}) {
    const ScreenVariable variable(c.value.c_str());
    const TestWindow window;
    ASSERT_NE(window.get(), nullptr);
    PlaceOnMonitor(window.get());
    const RECT after = window.Rect();
    const POINT expected = c.moved ? Centred() : POINT{kStartX, kStartY};
    EXPECT_EQ(after.left, expected.x);
    EXPECT_EQ(after.top, expected.y);
  }
}

}  // namespace
}  // namespace kestrova
