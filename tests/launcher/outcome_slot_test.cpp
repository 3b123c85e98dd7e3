#include "launcher/outcome_slot.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <variant>

namespace kestrova {
namespace {

// The slot is one per process: every test leaves it empty.
TEST(OutcomeSlot, StartsEmptyAndTakeEmptiesIt) {
  EXPECT_FALSE(OutcomeSlot::Take().has_value());
  OutcomeSlot::Store(Failed{"сервер не ответил"});
  auto taken = OutcomeSlot::Take();
  ASSERT_TRUE(taken.has_value());
  ASSERT_TRUE(std::holds_alternative<Failed>(*taken));
  EXPECT_EQ(std::get<Failed>(*taken).failureText, "сервер не ответил");
  EXPECT_FALSE(OutcomeSlot::Take().has_value());
}

TEST(OutcomeSlot, StoreDiscardsWhatTheSlotHeld) {
  OutcomeSlot::Store(Failed{"first"});
  OutcomeSlot::Store(Ready{L"C:\\Temp\\KestrovaAI-install.exe"});
  auto taken = OutcomeSlot::Take();
  ASSERT_TRUE(taken.has_value());
  ASSERT_TRUE(std::holds_alternative<Ready>(*taken));
  EXPECT_EQ(std::get<Ready>(*taken).installerPath, L"C:\\Temp\\KestrovaAI-install.exe");
  EXPECT_FALSE(OutcomeSlot::Take().has_value());
}

TEST(OutcomeSlot, KeepsUnpairedSurrogatesOfAPath) {
  const std::wstring path = std::wstring(L"C:\\x") + wchar_t(0xDC01) + L".exe";
  OutcomeSlot::Store(Ready{path});
  auto taken = OutcomeSlot::Take();
  ASSERT_TRUE(taken.has_value());
  EXPECT_EQ(std::get<Ready>(*taken).installerPath, path);
}

struct Storing {
  int count;
};

DWORD WINAPI StoreMany(void* parameter) {
  const int count = static_cast<Storing*>(parameter)->count;
  for (int i = 0; i < count; ++i) OutcomeSlot::Store(Failed{std::to_string(i)});
  return 0;
}

TEST(OutcomeSlot, StoreOnOneThreadAndTakeOnAnother) {
  // Every take sees either nothing or one whole outcome that was stored, and
  // the numbers taken only grow; the last one stored is there at the end.
  Storing storing{20000};
  const HANDLE worker = CreateThread(nullptr, 0, StoreMany, &storing, 0, nullptr);
  ASSERT_NE(worker, nullptr);
  int last = -1;
  bool ordered = true;
  while (WaitForSingleObject(worker, 0) == WAIT_TIMEOUT) {
    if (auto taken = OutcomeSlot::Take()) {
      const int number = std::stoi(std::get<Failed>(*taken).failureText);
      ordered = ordered && number > last;
      last = number;
    }
  }
  CloseHandle(worker);
  EXPECT_TRUE(ordered);
  auto rest = OutcomeSlot::Take();
  if (rest) {
    EXPECT_EQ(std::get<Failed>(*rest).failureText, "19999");
  } else {
    EXPECT_EQ(last, 19999);
  }
  EXPECT_FALSE(OutcomeSlot::Take().has_value());
}

}  // namespace
}  // namespace kestrova
