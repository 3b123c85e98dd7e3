#pragma once

// A real window, owned by a thread of its own with a message loop, that
// stands in for the task dialog: it records the task dialog messages that
// reach it through SendMessageW, as the dialog's thread would handle them.

#include <windows.h>

#include <commctrl.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kestrova::test {

// Holds an SRW lock exclusively while it lives. (The build's C++ runtime uses
// Windows' own threads: it has no std::thread or std::mutex.)
class ExclusiveLock {
 public:
  explicit ExclusiveLock(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
  ExclusiveLock(const ExclusiveLock&) = delete;
  ExclusiveLock& operator=(const ExclusiveLock&) = delete;
  ~ExclusiveLock() { ReleaseSRWLockExclusive(&lock_); }

 private:
  SRWLOCK& lock_;
};

struct RecordedMessage {
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  bool hasText = false;       // TDM_SET_ELEMENT_TEXT: the text was copied
  std::wstring text;          // up to its terminating 0
  std::int64_t observed = 0;  // what the observer returned when it came
  DWORD threadId = 0;         // the thread that handled it
};

class DialogRecorder {
 public:
  // observe, when given, runs on the window's thread for each recorded
  // message, before it is stored (e.g. to look at a file's size right then).
  explicit DialogRecorder(std::function<std::int64_t()> observe = {})
      : observe_(std::move(observe)) {
    ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, &ThreadStart, this, 0, nullptr);
    WaitForSingleObject(ready_, INFINITE);
  }
  DialogRecorder(const DialogRecorder&) = delete;
  DialogRecorder& operator=(const DialogRecorder&) = delete;
  ~DialogRecorder() {
    Destroy();
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    CloseHandle(ready_);
  }

  HWND window() const { return window_; }
  DWORD threadId() const { return threadId_; }

  std::vector<RecordedMessage> messages() const {
    ExclusiveLock lock(lock_);
    return messages_;
  }

  // Destroys the window (on its thread) and waits until it is gone.
  void Destroy() {
    if (window_ != nullptr && IsWindow(window_)) SendMessageW(window_, WM_CLOSE, 0, 0);
  }

 private:
  static constexpr wchar_t kClassName[] = L"KestrovaTestDialogRecorder";

  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<DialogRecorder*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
      case TDM_SET_PROGRESS_BAR_POS:
      case TDM_SET_ELEMENT_TEXT:
      case TDM_CLICK_BUTTON: {
        RecordedMessage recorded{message, wParam, lParam, false, {}, 0, GetCurrentThreadId()};
        if (message == TDM_SET_ELEMENT_TEXT && lParam != 0) {
          recorded.hasText = true;
          recorded.text = reinterpret_cast<const wchar_t*>(lParam);
        }
        if (self->observe_) recorded.observed = self->observe_();
        ExclusiveLock lock(self->lock_);
        self->messages_.push_back(std::move(recorded));
        return 12345;  // an answer the operations must ignore
      }
      case WM_CLOSE:
        DestroyWindow(window);
        return 0;
      case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
      default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
  }

  static DWORD WINAPI ThreadStart(LPVOID self) {
    static_cast<DialogRecorder*>(self)->Run();
    return 0;
  }

  void Run() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &Procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kClassName;
    RegisterClassW(&windowClass);  // fails harmlessly when registered before
    HWND window = CreateWindowExW(0, kClassName, L"recorder", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                  nullptr, nullptr, GetModuleHandleW(nullptr), this);
    window_ = window;
    threadId_ = GetCurrentThreadId();
    SetEvent(ready_);
    MSG message;
    while (window != nullptr && GetMessageW(&message, nullptr, 0, 0) > 0) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }

  std::function<std::int64_t()> observe_;
  mutable SRWLOCK lock_ = SRWLOCK_INIT;
  HANDLE ready_ = nullptr;  // set once the window and its thread are known
  HWND window_ = nullptr;
  DWORD threadId_ = 0;
  std::vector<RecordedMessage> messages_;
  HANDLE thread_ = nullptr;
};

}  // namespace kestrova::test
