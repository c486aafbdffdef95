// The Console's windows on Windows: Win32 dialogs on one user-interface
// thread of the module. No GUI toolkit is linked, so the windows live in the
// agent's process, and a hidden message-only dialog receives what callers
// queue (it is served inside menus' loops too). Callers never wait for a
// window or the user. Every dialog is answered exactly once: by the user,
// by its show time, or "no button" with its check boxes as given when the
// thread goes.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "console_texts.h"
#include "console_windows.h"
#include "dialog_ledger.h"
#include "platform/windows_api.h"

namespace wardex::console::win {

class ViewWindow;

class WindowThread final : public ConsoleWindows {
 public:
  explicit WindowThread(EventHandler on_event);
  // Answers every open dialog "no button", closes the windows and waits for
  // the thread.
  ~WindowThread() override;
  WindowThread(const WindowThread&) = delete;
  WindowThread& operator=(const WindowThread&) = delete;

  void ShowDialog(MessageDialog dialog) override;
  bool Send(const ConsoleMessage& message) override;
  void SetStartMessage(const ConsoleMessage& message) override;
  uint32_t NextId() override;

  // The user-interface thread, whose windows tests look for.
  DWORD thread_id() const { return thread_id_; }

 private:
  // The thread: makes the dispatcher, then runs the message loop.
  void Run();
  // On the thread: opens the windows of what was queued, or closes them all
  // when the thread is to end.
  void Drain();
  void Open(const ConsoleMessage& message);
  void ShowView(const ShowViewMessage& view);
  // A dialog's answer, from its window.
  void Answer(const DialogAnswer& answer);
  bool Enqueue(ConsoleMessage message);
  static INT_PTR CALLBACK DispatcherProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

  const EventHandler on_event_;

  std::mutex lock_;  // guards what follows up to the thread's own state
  std::deque<ConsoleMessage> queue_;
  DialogLedger dialogs_;
  uint32_t next_id_ = 1;
  bool stopping_ = false;
  bool started_ = false;
  std::condition_variable started_signal_;
  HWND dispatcher_ = nullptr;  // set before the constructor returns
  DWORD thread_id_ = 0;

  // The thread's own state.
  ConsoleTexts texts_;
  std::map<uint32_t, ViewWindow*> views_;  // open module views by id

  std::thread thread_;
};

}  // namespace wardex::console::win
