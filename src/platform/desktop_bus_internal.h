// The desktop backend's session-bus connection, shared by its parts: the
// status notifier item, the dbusmenu exporter and the notifications client.
// Internal to src/platform: it includes sd-bus, so only the desktop
// backend's *_linux.cc files include it.
//
// The connection belongs to the user-interface thread: its descriptor and
// time-out are watched by that thread's loop, and every bus call happens
// there. Other threads change the parts' stored state and ask for a flush,
// which the loop runs (at most one is queued).
#pragma once

#include <systemd/sd-bus.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/ui.h"

namespace wardex::platform::desktop {

// The menu's object, which the item names as its menu.
inline constexpr char kMenuPath[] = "/MenuBar";

// Every call to another peer gives up after this long.
inline constexpr uint64_t kCallTimeoutUs = 10'000'000;

// The monotonic clock in microseconds, as sd-bus states its time-outs.
[[nodiscard]] uint64_t MonotonicMicroseconds();
// UTF-8 of a terminated UTF-16 text.
[[nodiscard]] std::string Utf8(const char16_t* text);
// Reads an "as" argument into |strings|; sd-bus's result.
int ReadStrings(sd_bus_message* m, std::vector<std::string>* strings);

// A hidden window that hands its messages to |handler| on the loop thread:
// how the parts move work from other threads, and timers, onto the loop.
class LoopWindow : public Window {
 public:
  using Handler = std::function<void(UINT message, WPARAM wparam)>;
  explicit LoopWindow(Handler handler) : handler_(std::move(handler)) {}
  ~LoopWindow() override { Destroy(); }
  LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM /*lparam*/) override {
    handler_(message, wparam);
    return 0;
  }

 private:
  const Handler handler_;
};

class BusConnection {
 public:
  // Takes |bus|; constructed on |loop|'s thread.
  BusConnection(MessageLoop& loop, sd_bus* bus);
  ~BusConnection();
  BusConnection(const BusConnection&) = delete;
  BusConnection& operator=(const BusConnection&) = delete;

  // Registers the pump; |flush| sends what other threads changed, on the
  // loop thread. False on failure.
  [[nodiscard]] bool Start(std::function<void()> flush);
  // Has the loop watch the connection, once the parts are set up, and reads
  // what the set-up calls received meanwhile.
  void Watch();
  // Flushes and closes the connection; the parts' callbacks are not called
  // after it.
  void Close();

  [[nodiscard]] sd_bus* get() const { return bus_; }
  [[nodiscard]] bool OnLoopThread() const { return std::this_thread::get_id() == loop_thread_; }
  // False once the bus has gone; any thread.
  [[nodiscard]] bool alive() const { return alive_; }
  // Loop thread only: still connected, and inside a dispatch.
  [[nodiscard]] bool connected() const { return connected_; }
  [[nodiscard]] bool processing() const { return processing_; }

  // Reads and dispatches what the bus has, then re-arms the watch and timer.
  void Process();
  // Watches for what sd-bus waits for now; after writes outside a dispatch.
  void Rearm();
  // Runs the flush now on the loop thread, or has the loop run it.
  void ScheduleFlush();
  // A modal wait on the bus alone: dispatches until |done| says so, which
  // it asks after every dispatch and which sets how long to wait for more.
  // False when the bus went away meanwhile.
  bool ProcessUntil(const std::function<bool(uint64_t* wait_us)>& done);

 private:
  void Flush();
  void OnDisconnected(int error);

  MessageLoop& loop_;
  const std::thread::id loop_thread_;
  LoopWindow pump_;  // the posted flush and the bus time-out
  std::function<void()> flush_;
  std::atomic<bool> flush_posted_{false};
  std::atomic<bool> alive_{true};

  // Loop thread only.
  sd_bus* bus_;
  int bus_fd_ = -1;
  short watched_events_ = 0;
  uint64_t armed_deadline_ = UINT64_MAX;
  bool processing_ = false;
  bool connected_ = true;
};

}  // namespace wardex::platform::desktop
