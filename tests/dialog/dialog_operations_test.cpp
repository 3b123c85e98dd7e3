#include "dialog/dialog_operations.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "dialog/dialog_operations_recorder.h"

namespace kestrova {
namespace {

using test::DialogRecorder;
using test::RecordedMessage;

TEST(DialogOperations, SendEachMessageToTheDialogsThread) {
  DialogRecorder recorder;
  ASSERT_NE(recorder.window(), nullptr);
  SetDialogProgress(recorder.window(), 0);
  SetDialogProgress(recorder.window(), 42);
  SetDialogProgress(recorder.window(), 300);  // above the range: unchanged
  SetDialogProgress(recorder.window(), UINTPTR_MAX);
  SetDialogContent(recorder.window(), "Скачано 12 из 80 МБ");
  SetDialogContent(recorder.window(), "");
  SetDialogContent(recorder.window(), std::string("a\0b", 3));  // Windows reads up to the 0
  CloseDialog(recorder.window());

  const std::vector<RecordedMessage> messages = recorder.messages();
  ASSERT_EQ(messages.size(), 8u);
  const struct {
    UINT message;
    WPARAM wParam;
    bool hasText;
    std::wstring text;
  } expected[] = {
      {0x46A, 0, false, L""},
      {0x46A, 42, false, L""},
      {0x46A, 300, false, L""},
      {0x46A, UINTPTR_MAX, false, L""},
      {0x46C, 0, true, L"Скачано 12 из 80 МБ"},
      {0x46C, 0, true, L""},
      {0x46C, 0, true, L"a"},
      {0x466, 2, false, L""},
  };
  for (std::size_t i = 0; i < messages.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(messages[i].message, expected[i].message);
    EXPECT_EQ(messages[i].wParam, expected[i].wParam);
    EXPECT_EQ(messages[i].hasText, expected[i].hasText);
    EXPECT_EQ(messages[i].text, expected[i].text);
    if (!expected[i].hasText) {
      EXPECT_EQ(messages[i].lParam, 0);
    }
    // Handled on the window's own thread, not the sender's.
    EXPECT_EQ(messages[i].threadId, recorder.threadId());
    EXPECT_NE(messages[i].threadId, GetCurrentThreadId());
  }
}

TEST(DialogOperations, DoNothingOnceTheWindowIsGone) {
  DialogRecorder recorder;
  const HWND window = recorder.window();
  CloseDialog(window);
  recorder.Destroy();
  ASSERT_FALSE(IsWindow(window));

  const auto start = std::chrono::steady_clock::now();
  SetDialogProgress(window, 50);
  SetDialogContent(window, "Скачано 1 МБ");
  CloseDialog(window);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(recorder.messages().size(), 1u);  // only the first CloseDialog
}

}  // namespace
}  // namespace kestrova
