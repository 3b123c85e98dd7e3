// Included before everything in GoogleTest and the Windows tests: the
// win32 thread model's C++ runtime has no std::mutex or
// std::condition_variable, which the one class of GoogleTest that needs them,
// Notification, is built on. This one is a Windows event; GoogleTest then
// takes it instead of its own (GTEST_HAS_NOTIFICATION_).
#pragma once

#include <windows.h>

namespace testing::internal {

class Notification {
 public:
  Notification() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;
  ~Notification() { CloseHandle(event_); }

  void Notify() { SetEvent(event_); }
  void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

 private:
  HANDLE event_;
};

}  // namespace testing::internal
