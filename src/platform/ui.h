// The user-interface thread's message loop and its windows: the Windows
// message queue and window procedures, and on Linux a loop of our own that
// stands in for them.
//
// A MessageLoop belongs to the thread that runs it. Windows are entries in a
// process-wide table, keyed by an HWND (on Linux an opaque key that is never
// reused); each is bound to the loop that was current on the thread that
// created it, and its WindowProc always runs on that loop's thread. A
// message for a window that has been destroyed is dropped. Idle, the loop
// sleeps: nothing wakes it but a message, a due timer, an end request or,
// on Linux, a watched descriptor (ui_posix.h).
#pragma once

#include <cstdint>
#include <memory>

#include "platform/wait.h"
#include "platform/window_messages.h"

namespace wardex::platform {

class MessageLoop;
// The platform file's access to the private parts of windows and loops.
struct WindowBinding;

// The window procedure's owner. Register() enters the object into the window
// table; it must then be destroyed (Destroy() or the destructor) on the
// thread of its loop.
class Window {
 public:
  Window() = default;
  virtual ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  // Enters this window into the table, bound to the calling thread's current
  // loop, and delivers WM_CREATE. Null (last error 1400, invalid window
  // handle) when the thread has no loop or the window is already registered;
  // null as well when WM_CREATE answers -1, after WM_DESTROY.
  [[nodiscard]] HWND Register();
  // Delivers WM_DESTROY and removes the window from the table; messages that
  // are still queued for it are dropped. False when not registered.
  bool Destroy();

  [[nodiscard]] HWND hwnd() const { return hwnd_; }

  // Handles one message; what it returns is the SendMessage result.
  virtual LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam) = 0;

 private:
  friend struct WindowBinding;
  HWND hwnd_ = nullptr;
};

// One thread's loop: posted and sent messages, one-shot timers. Construct and
// Run() it on the same thread; at most one loop per thread. Windows still
// bound to it when it goes leave the table with it (without WM_DESTROY), and
// senders still waiting get 0.
class MessageLoop {
 public:
  MessageLoop();
  ~MessageLoop();
  MessageLoop(const MessageLoop&) = delete;
  MessageLoop& operator=(const MessageLoop&) = delete;

  // The calling thread's loop, or null.
  [[nodiscard]] static MessageLoop* Current();

  // Runs until PostQuitMessage or Quit; returns the quit code. Sent messages
  // are handled before posted ones, then due timers (then, on Linux, watched
  // descriptors).
  int Run();
  // Ends Run() with |exit_code|; callable from any thread.
  void Quit(int exit_code);

  // How often the loop woke from its wait. An idle loop does not count up.
  [[nodiscard]] uint64_t wakeups() const;

  struct State;

 private:
  friend class Window;
  friend struct WindowBinding;
  std::unique_ptr<State> state_;
};

// Queues a message for |hwnd|'s loop; callable from any thread. False (last
// error 1400) when the window does not exist.
bool PostMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
// Posts to every window in the table (HWND_BROADCAST).
void BroadcastMessage(UINT message, WPARAM wparam, LPARAM lparam);
// Calls the window procedure directly on the window's own thread; from any
// other thread, queues the message and waits until its loop has handled it.
// 0 when the window does not exist or is destroyed before handling it.
LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
// As SendMessage, waiting at most |timeout_ms| (or kInfinite). False (last error 1460,
// time-out) when the time passed first; the message may still be handled
// later, its result then goes nowhere. False (1400) for a missing window.
[[nodiscard]] bool SendMessageTimeout(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam,
                                      uint32_t timeout_ms, LRESULT* result);
// Ends the calling thread's loop with |exit_code| once the current message
// is handled.
void PostQuitMessage(int exit_code);
// True while |hwnd| is in the table.
[[nodiscard]] bool IsWindow(HWND hwnd);

// Arms the one-shot timer (|hwnd|, |id|): after |elapse_ms| the window gets
// WM_TIMER with wparam = id, once. Arming a timer that is armed restarts its
// time. Callable from any thread. Returns |id|, or 0 for a missing window.
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, uint32_t elapse_ms);
// Disarms the timer; false when it was not armed. Callable from any thread.
bool KillTimer(HWND hwnd, UINT_PTR id);

// The application's main window (the framework's main window pointer).
void SetMainWindow(HWND hwnd);
[[nodiscard]] HWND GetMainWindow();

// Turns the end requests from outside into WM_CLOSE on the main window, so
// that the agent closes as for its menu's close command. Linux: SIGTERM and
// SIGINT, posted at the time the signal arrives, watched by |loop|; the
// previous dispositions come back with StopTerminationSignals() (or when
// |loop| ends). Windows: console control events (Ctrl+C, Ctrl+Break, the
// console closing) are posted; the session's end (WM_ENDSESSION) closes the
// main window before the system ends the process; WM_CLOSE from other
// programs needs nothing. False when the requests could not be taken over.
[[nodiscard]] bool RouteTerminationSignals(MessageLoop& loop);
void StopTerminationSignals();

// RegisterWindowMessageW: the same name gives the same number (0xC000 and
// above) in the process (on Windows in the whole session). 0 for an empty name.
[[nodiscard]] UINT RegisterWindowMessage(const char16_t* name);

}  // namespace wardex::platform
