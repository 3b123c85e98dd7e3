#pragma once

// A real window, owned by a thread of its own with a message loop, that
// stands in for the task dialog: it records the task dialog messages that
// reach it through SendMessageW, as the dialog's thread would handle them.

#include <windows.h>

#include <commctrl.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kestrova::test {

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
    thread_ = std::thread([this] { Run(); });
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [this] { return started_; });
  }
  DialogRecorder(const DialogRecorder&) = delete;
  DialogRecorder& operator=(const DialogRecorder&) = delete;
  ~DialogRecorder() {
    Destroy();
    thread_.join();
  }

  HWND window() const { return window_; }
  DWORD threadId() const { return threadId_; }

  std::vector<RecordedMessage> messages() const {
    std::lock_guard lock(mutex_);
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
        std::lock_guard lock(self->mutex_);
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

  void Run() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &Procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kClassName;
    RegisterClassW(&windowClass);  // fails harmlessly when registered before
    HWND window = CreateWindowExW(0, kClassName, L"recorder", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                  nullptr, nullptr, GetModuleHandleW(nullptr), this);
    {
      std::lock_guard lock(mutex_);
      window_ = window;
      threadId_ = GetCurrentThreadId();
      started_ = true;
    }
    ready_.notify_all();
    MSG message;
    while (window != nullptr && GetMessageW(&message, nullptr, 0, 0) > 0) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }

  std::function<std::int64_t()> observe_;
  mutable std::mutex mutex_;
  std::condition_variable ready_;
  bool started_ = false;
  HWND window_ = nullptr;
  DWORD threadId_ = 0;
  std::vector<RecordedMessage> messages_;
  std::thread thread_;
};

}  // namespace kestrova::test
