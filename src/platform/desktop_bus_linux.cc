#include <time.h>

#include <algorithm>
#include <cstdlib>

#include "osal/wide_format.h"
#include "platform/desktop_bus_internal.h"
#include "platform/ui_posix.h"
#include "wardex/crashlog.h"

namespace wardex::platform::desktop {

namespace {

// The pump window's message and timer.
constexpr UINT kFlushMessage = WM_USER + 1;
constexpr UINT_PTR kBusTimer = 1;

}  // namespace

uint64_t MonotonicMicroseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1'000'000 + now.tv_nsec / 1000;
}

std::string Utf8(const char16_t* text) { return KaOSAL::ToUtf8(std::u16string(text)); }

int ReadStrings(sd_bus_message* m, std::vector<std::string>* strings) {
  char** list = nullptr;
  const int r = sd_bus_message_read_strv(m, &list);
  if (r < 0) return r;
  for (char** p = list; p != nullptr && *p != nullptr; ++p) {
    strings->push_back(*p);
    free(*p);
  }
  free(list);
  return r;
}

BusConnection::BusConnection(MessageLoop& loop, sd_bus* bus)
    : loop_(loop),
      loop_thread_(std::this_thread::get_id()),
      pump_([this](UINT message, WPARAM wparam) {
        if (message == kFlushMessage) {
          Flush();
        } else if (message == WM_TIMER && wparam == kBusTimer) {
          Process();
        }
      }),
      bus_(bus) {}

BusConnection::~BusConnection() { Close(); }

bool BusConnection::Start(std::function<void()> flush) {
  flush_ = std::move(flush);
  if (pump_.Register() == nullptr) return false;
  bus_fd_ = sd_bus_get_fd(bus_);
  return true;
}

void BusConnection::Watch() {
  WatchFd(loop_, bus_fd_, POLLIN, [this](int, short) { Process(); });
  watched_events_ = POLLIN;
  // The set-up calls may have read messages that poll() will not announce.
  Process();
}

void BusConnection::Close() {
  if (bus_ == nullptr) return;
  if (bus_fd_ >= 0 && connected_) UnwatchFd(loop_, bus_fd_);
  if (pump_.hwnd() != nullptr) KillTimer(pump_.hwnd(), kBusTimer);
  sd_bus_flush_close_unref(bus_);
  bus_ = nullptr;
  connected_ = false;
}

void BusConnection::Process() {
  if (!connected_ || processing_) return;
  processing_ = true;
  int r;
  while ((r = sd_bus_process(bus_, nullptr)) > 0) {
  }
  processing_ = false;
  if (r < 0) {
    OnDisconnected(r);
    return;
  }
  Rearm();
}

void BusConnection::Rearm() {
  if (!connected_) return;
  const int events = sd_bus_get_events(bus_);
  const short wanted = static_cast<short>(events > 0 ? events : POLLIN);
  if (wanted != watched_events_) {
    watched_events_ = wanted;
    WatchFd(loop_, bus_fd_, wanted, [this](int, short) { Process(); });
  }
  uint64_t deadline = UINT64_MAX;
  if (sd_bus_get_timeout(bus_, &deadline) < 0) deadline = UINT64_MAX;
  if (deadline == armed_deadline_) return;
  armed_deadline_ = deadline;
  if (deadline == UINT64_MAX) {
    KillTimer(pump_.hwnd(), kBusTimer);
    return;
  }
  const uint64_t now = MonotonicMicroseconds();
  const uint64_t wait_ms = deadline > now ? (deadline - now + 999) / 1000 : 0;
  SetTimer(pump_.hwnd(), kBusTimer, static_cast<uint32_t>(std::min<uint64_t>(wait_ms, 0x7FFFFFFF)));
}

void BusConnection::ScheduleFlush() {
  if (OnLoopThread()) {
    Flush();
  } else if (!flush_posted_.exchange(true)) {
    PostMessage(pump_.hwnd(), kFlushMessage, 0, 0);
  }
}

void BusConnection::Flush() {
  flush_posted_ = false;
  if (!connected_) return;
  flush_();
  // Only writes happened: nothing was read that poll() would not announce,
  // and no bus call runs inside the caller's locks.
  if (!processing_) Rearm();
}

bool BusConnection::ProcessUntil(const std::function<bool(uint64_t* wait_us)>& done) {
  processing_ = true;
  int r;
  for (;;) {
    r = sd_bus_process(bus_, nullptr);
    if (r < 0) break;
    uint64_t wait_us = UINT64_MAX;
    if (done(&wait_us)) break;
    if (r > 0) continue;
    r = sd_bus_wait(bus_, wait_us);
    if (r < 0) break;
  }
  processing_ = false;
  if (r < 0) {
    OnDisconnected(r);
    return false;
  }
  Rearm();
  return true;
}

void BusConnection::OnDisconnected(int error) {
  connected_ = false;
  alive_ = false;
  UnwatchFd(loop_, bus_fd_);
  KillTimer(pump_.hwnd(), kBusTimer);
  LogW(kLogNotable, u"SHELL: the session bus has gone (error %d), closing the agent", -error);
  if (HWND main_window = GetMainWindow()) PostMessage(main_window, WM_CLOSE, 0, 0);
}

}  // namespace wardex::platform::desktop
