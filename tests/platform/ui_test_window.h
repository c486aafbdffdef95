// A window that records its messages and a loop on a thread of its own, for
// the tests of the message loop.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/ui.h"

namespace wardex::platform {

using Clock = std::chrono::steady_clock;

struct Received {
  UINT message;
  WPARAM wparam;
  std::thread::id thread;
  Clock::time_point when;
};

// A window that records every message and answers through an optional
// handler; WM_USER + 99 ends its loop.
class RecordingWindow : public Window {
 public:
  static constexpr UINT kQuit = WM_USER + 99;
  std::function<LRESULT(UINT, WPARAM, LPARAM)> handler;

  LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam) override {
    {
      std::lock_guard lock(mutex_);
      received_.push_back({message, wparam, std::this_thread::get_id(), Clock::now()});
    }
    if (message == kQuit) PostQuitMessage(static_cast<int>(wparam));
    return handler ? handler(message, wparam, lparam) : 0;
  }
  std::vector<Received> Messages(UINT message) {
    std::lock_guard lock(mutex_);
    std::vector<Received> result;
    for (const auto& r : received_) {
      if (r.message == message) result.push_back(r);
    }
    return result;
  }

 private:
  std::mutex mutex_;
  std::vector<Received> received_;
};

// Runs a loop with one RecordingWindow on its own thread.
class UiThread {
 public:
  explicit UiThread(std::function<LRESULT(UINT, WPARAM, LPARAM)> handler = nullptr) {
    window_.handler = std::move(handler);
    std::promise<void> ready;
    thread_ = std::thread([this, &ready] {
      MessageLoop loop;
      loop_ = &loop;
      hwnd_ = window_.Register();
      ready.set_value();
      exit_code_ = loop.Run();
      window_.Destroy();
      loop_ = nullptr;
    });
    ready.get_future().wait();
    id_ = thread_.get_id();
  }
  ~UiThread() { Stop(); }
  int Stop() {
    if (thread_.joinable()) {
      PostMessage(hwnd_, RecordingWindow::kQuit, 0, 0);
      thread_.join();
    }
    return exit_code_;
  }
  HWND hwnd() const { return hwnd_; }
  MessageLoop& loop() { return *loop_; }
  RecordingWindow& window() { return window_; }
  std::thread::id id() const { return id_; }

 private:
  RecordingWindow window_;
  std::atomic<MessageLoop*> loop_{nullptr};
  HWND hwnd_ = nullptr;
  int exit_code_ = -1;
  std::thread thread_;
  std::thread::id id_;
};

}  // namespace wardex::platform
