// The message loop on poll(): an eventfd wakes the loop for queued messages
// and timer changes, timers are a set ordered by due time, and the loop
// sleeps in poll() until the earliest of them.
#include "platform/ui_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "osal/last_error.h"
#include "platform/scoped_fd_posix.h"
#include "wardex/crashlog.h"

namespace wardex::platform {

using Clock = std::chrono::steady_clock;

// The answer a cross-thread SendMessage waits for.
struct SentReply {
  std::mutex mutex;
  std::condition_variable done_cv;
  bool done = false;
  LRESULT result = 0;

  void Complete(LRESULT value) {
    std::lock_guard lock(mutex);
    result = value;
    done = true;
    done_cv.notify_all();
  }
};

struct QueuedMessage {
  HWND hwnd;
  UINT message;
  WPARAM wparam;
  LPARAM lparam;
  std::shared_ptr<SentReply> reply;  // set for sent messages
};

struct FdWatch {
  short events;
  std::shared_ptr<FdCallback> callback;
};

using TimerKey = std::pair<HWND, UINT_PTR>;

struct MessageLoop::State {
  std::thread::id owner = std::this_thread::get_id();
  ScopedFd wake_fd;  // an eventfd
  std::atomic<uint64_t> wakeups{0};

  std::mutex mutex;  // guards everything below
  std::deque<QueuedMessage> sent;
  std::deque<QueuedMessage> posted;
  std::map<TimerKey, Clock::time_point> timers;
  std::set<std::tuple<Clock::time_point, HWND, UINT_PTR>> timers_by_due;
  std::map<int, FdWatch> watches;
  bool quit = false;
  int quit_code = 0;

  void Wake() const {
    const uint64_t one = 1;
    // A full counter still leaves the descriptor readable, so a failed write
    // loses no wake-up.
    (void)!write(wake_fd.get(), &one, sizeof(one));
  }
  void DrainWake() const {
    uint64_t count;
    (void)!read(wake_fd.get(), &count, sizeof(count));
  }
  void RemoveTimerLocked(const TimerKey& key) {
    auto it = timers.find(key);
    if (it == timers.end()) return;
    timers_by_due.erase({it->second, key.first, key.second});
    timers.erase(it);
  }
};

struct WindowBinding {
  static MessageLoop::State& LoopState(MessageLoop& loop) { return *loop.state_; }
};

namespace {

struct WindowEntry {
  Window* window;
  MessageLoop::State* loop;
};

// The process-wide window table. Lock order: this mutex before a loop's.
std::mutex g_table_mutex;
std::unordered_map<HWND, WindowEntry> g_windows;
uintptr_t g_last_window_id = 0;
HWND g_main_window = nullptr;

thread_local MessageLoop* t_current_loop = nullptr;

// Gives the termination signals back when |loop| is the one watching them.
void StopTerminationSignalsOf(const MessageLoop& loop);

// Returns the loop of |hwnd| (the caller holds the table lock), or null with
// the last error set when the window does not exist.
MessageLoop::State* LoopOfLocked(HWND hwnd) {
  auto it = g_windows.find(hwnd);
  if (it == g_windows.end()) {
    KaOSAL::SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  return it->second.loop;
}

// Returns the window object of |hwnd| if it belongs to |loop|.
Window* WindowOf(HWND hwnd, const MessageLoop::State* loop) {
  std::lock_guard lock(g_table_mutex);
  auto it = g_windows.find(hwnd);
  if (it == g_windows.end() || it->second.loop != loop) return nullptr;
  return it->second.window;
}

// Calls the window procedure of |message| on the loop's thread; 0 when the
// window has gone meanwhile.
LRESULT Dispatch(const MessageLoop::State* loop, const QueuedMessage& message) {
  Window* window = WindowOf(message.hwnd, loop);
  if (window == nullptr) return 0;
  return window->WindowProc(message.message, message.wparam, message.lparam);
}

// Queues |message| on |hwnd|'s loop; false when the window does not exist.
bool Enqueue(HWND hwnd, QueuedMessage message, bool sent) {
  std::lock_guard table_lock(g_table_mutex);
  MessageLoop::State* loop = LoopOfLocked(hwnd);
  if (loop == nullptr) return false;
  {
    std::lock_guard lock(loop->mutex);
    (sent ? loop->sent : loop->posted).push_back(std::move(message));
  }
  loop->Wake();
  return true;
}

// Milliseconds until the earliest timer of |state| (locked), -1 for none.
int PollTimeoutLocked(const MessageLoop::State& state) {
  if (state.timers_by_due.empty()) return -1;
  auto wait = std::get<0>(*state.timers_by_due.begin()) - Clock::now();
  if (wait <= Clock::duration::zero()) return 0;
  // Round up, so the loop never wakes just before the timer is due.
  return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(wait).count());
}

}  // namespace

// --- Window -----------------------------------------------------------------

Window::~Window() {
  // WM_DESTROY cannot reach a derived class any more; derived windows call
  // Destroy() in their own destructors when they need it.
  if (hwnd_ == nullptr) return;
  std::lock_guard lock(g_table_mutex);
  g_windows.erase(hwnd_);
  if (g_main_window == hwnd_) g_main_window = nullptr;
}

HWND Window::Register() {
  MessageLoop* loop = MessageLoop::Current();
  if (loop == nullptr || hwnd_ != nullptr) {
    KaOSAL::SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  {
    std::lock_guard lock(g_table_mutex);
    hwnd_ = reinterpret_cast<HWND>(++g_last_window_id);
    g_windows[hwnd_] = WindowEntry{this, loop->state_.get()};
  }
  if (WindowProc(WM_CREATE, 0, 0) == -1) {
    Destroy();
    return nullptr;
  }
  return hwnd_;
}

bool Window::Destroy() {
  if (hwnd_ == nullptr) return false;
  WindowProc(WM_DESTROY, 0, 0);
  std::lock_guard table_lock(g_table_mutex);
  auto it = g_windows.find(hwnd_);
  if (it != g_windows.end()) {
    std::lock_guard lock(it->second.loop->mutex);
    auto& timers = it->second.loop->timers;
    for (auto timer = timers.lower_bound({hwnd_, 0});
         timer != timers.end() && timer->first.first == hwnd_;) {
      it->second.loop->timers_by_due.erase({timer->second, hwnd_, timer->first.second});
      timer = timers.erase(timer);
    }
    g_windows.erase(it);
  }
  if (g_main_window == hwnd_) g_main_window = nullptr;
  hwnd_ = nullptr;
  return true;
}

// --- MessageLoop ------------------------------------------------------------

MessageLoop::MessageLoop() : state_(std::make_unique<State>()) {
  state_->wake_fd.reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (state_->wake_fd.get() < 0) {
    LogW(kLogSysFail, u"UI: eventfd failed, errno %d", errno);
  }
  t_current_loop = this;
}

MessageLoop::~MessageLoop() {
  StopTerminationSignalsOf(*this);
  {
    std::lock_guard table_lock(g_table_mutex);
    for (auto it = g_windows.begin(); it != g_windows.end();) {
      if (it->second.loop != state_.get()) {
        ++it;
        continue;
      }
      if (g_main_window == it->first) g_main_window = nullptr;
      it = g_windows.erase(it);
    }
  }
  // Nobody will handle what is still queued: release the waiting senders.
  std::lock_guard lock(state_->mutex);
  for (auto& message : state_->sent) message.reply->Complete(0);
  state_->sent.clear();
  if (t_current_loop == this) t_current_loop = nullptr;
}

MessageLoop* MessageLoop::Current() { return t_current_loop; }

uint64_t MessageLoop::wakeups() const { return state_->wakeups.load(); }

void MessageLoop::Quit(int exit_code) {
  {
    std::lock_guard lock(state_->mutex);
    state_->quit = true;
    state_->quit_code = exit_code;
  }
  state_->Wake();
}

void WatchFd(MessageLoop& loop, int fd, short events, FdCallback callback) {
  MessageLoop::State& state = WindowBinding::LoopState(loop);
  {
    std::lock_guard lock(state.mutex);
    state.watches[fd] = FdWatch{events, std::make_shared<FdCallback>(std::move(callback))};
  }
  state.Wake();
}

void UnwatchFd(MessageLoop& loop, int fd) {
  MessageLoop::State& state = WindowBinding::LoopState(loop);
  {
    std::lock_guard lock(state.mutex);
    state.watches.erase(fd);
  }
  state.Wake();
}

int MessageLoop::Run() {
  State& state = *state_;
  {
    std::lock_guard lock(state.mutex);
    state.quit = false;
  }
  std::vector<pollfd> fds;
  std::vector<std::shared_ptr<FdCallback>> callbacks;
  for (;;) {
    // Sent messages first: their senders are blocked.
    std::deque<QueuedMessage> sent;
    std::optional<QueuedMessage> posted;
    std::vector<TimerKey> due;
    int timeout = -1;
    {
      std::lock_guard lock(state.mutex);
      // What is still queued waits for the next Run(), or is released when
      // the loop goes.
      if (state.quit) return state.quit_code;
      sent.swap(state.sent);
      if (!state.posted.empty()) {
        posted = std::move(state.posted.front());
        state.posted.pop_front();
      }
      const auto now = Clock::now();
      while (!state.timers_by_due.empty() && std::get<0>(*state.timers_by_due.begin()) <= now) {
        auto [when, hwnd, id] = *state.timers_by_due.begin();
        state.timers_by_due.erase(state.timers_by_due.begin());
        state.timers.erase({hwnd, id});
        due.emplace_back(hwnd, id);
      }
      const bool more_work = !state.sent.empty() || !state.posted.empty();
      timeout = more_work ? 0 : PollTimeoutLocked(state);
      fds.assign(1, pollfd{state.wake_fd.get(), POLLIN, 0});
      callbacks.assign(1, nullptr);
      for (const auto& [fd, watch] : state.watches) {
        fds.push_back(pollfd{fd, watch.events, 0});
        callbacks.push_back(watch.callback);
      }
    }
    for (auto& message : sent) message.reply->Complete(Dispatch(&state, message));
    if (posted) Dispatch(&state, *posted);
    for (const auto& [hwnd, id] : due) {
      Dispatch(&state, QueuedMessage{hwnd, WM_TIMER, id, 0, nullptr});
    }
    if (!sent.empty() || posted || !due.empty()) timeout = 0;

    const int ready = poll(fds.data(), fds.size(), timeout);
    ++state.wakeups;
    if (ready < 0) {
      if (errno == EINTR) continue;
      LogW(kLogSysFail, u"UI: poll failed, errno %d", errno);
      return -1;
    }
    if (fds[0].revents != 0) state.DrainWake();
    for (size_t i = 1; i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      {
        // Skip a watch that was removed or replaced by an earlier callback.
        std::lock_guard lock(state.mutex);
        auto it = state.watches.find(fds[i].fd);
        if (it == state.watches.end() || it->second.callback != callbacks[i]) continue;
        if ((fds[i].revents & POLLNVAL) != 0) {
          // Closed without being unwatched: drop it rather than spin on it.
          LogW(kLogError, u"UI: descriptor %d closed while watched", fds[i].fd);
          state.watches.erase(it);
          continue;
        }
      }
      (*callbacks[i])(fds[i].fd, fds[i].revents);
    }
  }
}

// --- Messages ---------------------------------------------------------------

bool PostMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  return Enqueue(hwnd, QueuedMessage{hwnd, message, wparam, lparam, nullptr}, false);
}

void BroadcastMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  std::vector<HWND> windows;
  {
    std::lock_guard lock(g_table_mutex);
    for (const auto& [hwnd, entry] : g_windows) windows.push_back(hwnd);
  }
  for (HWND hwnd : windows) PostMessage(hwnd, message, wparam, lparam);
}

bool SendMessageTimeout(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, uint32_t timeout_ms,
                        LRESULT* result) {
  *result = 0;
  Window* local = nullptr;
  {
    std::lock_guard lock(g_table_mutex);
    auto it = g_windows.find(hwnd);
    if (it == g_windows.end()) {
      KaOSAL::SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return false;
    }
    if (it->second.loop->owner == std::this_thread::get_id()) local = it->second.window;
  }
  if (local != nullptr) {
    *result = local->WindowProc(message, wparam, lparam);
    return true;
  }
  auto reply = std::make_shared<SentReply>();
  if (!Enqueue(hwnd, QueuedMessage{hwnd, message, wparam, lparam, reply}, true)) return false;
  std::unique_lock lock(reply->mutex);
  const auto is_done = [&reply] { return reply->done; };
  if (timeout_ms == kInfinite) {
    reply->done_cv.wait(lock, is_done);
  } else if (!reply->done_cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), is_done)) {
    KaOSAL::SetLastError(ERROR_TIMEOUT);
    return false;
  }
  *result = reply->result;
  return true;
}

LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  LRESULT result = 0;
  (void)SendMessageTimeout(hwnd, message, wparam, lparam, kInfinite, &result);
  return result;
}

void PostQuitMessage(int exit_code) {
  if (MessageLoop* loop = MessageLoop::Current()) loop->Quit(exit_code);
}

bool IsWindow(HWND hwnd) {
  std::lock_guard lock(g_table_mutex);
  return g_windows.count(hwnd) != 0;
}

// --- Timers -----------------------------------------------------------------

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, uint32_t elapse_ms) {
  std::lock_guard table_lock(g_table_mutex);
  MessageLoop::State* loop = LoopOfLocked(hwnd);
  if (loop == nullptr) return 0;
  {
    std::lock_guard lock(loop->mutex);
    loop->RemoveTimerLocked({hwnd, id});
    const auto due = Clock::now() + std::chrono::milliseconds(elapse_ms);
    loop->timers[{hwnd, id}] = due;
    loop->timers_by_due.emplace(due, hwnd, id);
  }
  loop->Wake();
  return id;
}

bool KillTimer(HWND hwnd, UINT_PTR id) {
  std::lock_guard table_lock(g_table_mutex);
  MessageLoop::State* loop = LoopOfLocked(hwnd);
  if (loop == nullptr) return false;
  std::lock_guard lock(loop->mutex);
  if (loop->timers.count({hwnd, id}) == 0) return false;
  loop->RemoveTimerLocked({hwnd, id});
  // The loop may wake once more for the old time and find nothing due.
  return true;
}

// --- Main window and registered messages -----------------------------------

void SetMainWindow(HWND hwnd) {
  std::lock_guard lock(g_table_mutex);
  g_main_window = hwnd;
}

HWND GetMainWindow() {
  std::lock_guard lock(g_table_mutex);
  return g_main_window;
}

UINT RegisterWindowMessage(const char16_t* name) {
  static std::mutex mutex;
  static std::map<std::u16string, UINT> registered;
  if (name == nullptr || *name == 0) return 0;
  std::lock_guard lock(mutex);
  auto [it, added] = registered.emplace(name, 0);
  if (added) it->second = static_cast<UINT>(0xC000 + registered.size() - 1);
  return it->second;
}

// --- Termination signals ----------------------------------------------------

namespace {

constexpr int kTerminationSignals[] = {SIGTERM, SIGINT};

// The self-pipe: the handler writes the signal number, the loop reads it.
std::atomic<int> g_signal_write_fd{-1};
std::mutex g_signal_mutex;
int g_signal_read_fd = -1;
MessageLoop* g_signal_loop = nullptr;
struct sigaction g_previous_actions[std::size(kTerminationSignals)];

void OnTerminationSignal(int signal_number) {
  const int saved_errno = errno;
  const unsigned char byte = static_cast<unsigned char>(signal_number);
  const int fd = g_signal_write_fd.load();
  if (fd >= 0) (void)!write(fd, &byte, 1);
  errno = saved_errno;
}

// Reads the signals that arrived and closes the main window once for each.
void OnSignalPipeReadable(int fd, short /*events*/) {
  unsigned char signals[16];
  ssize_t count;
  while ((count = read(fd, signals, sizeof(signals))) > 0) {
    for (ssize_t i = 0; i < count; ++i) {
      HWND main_window = GetMainWindow();
      LogW(kLogNotable, u"UI: signal %d, closing the main window", static_cast<int>(signals[i]));
      if (main_window != nullptr) PostMessage(main_window, WM_CLOSE, 0, 0);
    }
  }
}

// Puts the previous dispositions back and closes the pipe; |g_signal_mutex|
// is held.
void StopTerminationSignalsLocked() {
  if (g_signal_loop == nullptr) return;
  for (size_t i = 0; i < std::size(kTerminationSignals); ++i) {
    sigaction(kTerminationSignals[i], &g_previous_actions[i], nullptr);
  }
  UnwatchFd(*g_signal_loop, g_signal_read_fd);
  close(g_signal_write_fd.exchange(-1));
  close(g_signal_read_fd);
  g_signal_read_fd = -1;
  g_signal_loop = nullptr;
}

void StopTerminationSignalsOf(const MessageLoop& loop) {
  std::lock_guard lock(g_signal_mutex);
  if (g_signal_loop == &loop) StopTerminationSignalsLocked();
}

}  // namespace

bool RouteTerminationSignals(MessageLoop& loop) {
  std::lock_guard lock(g_signal_mutex);
  StopTerminationSignalsLocked();
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    KaOSAL::SetLastErrorFromErrno(errno);
    LogW(kLogSysFail, u"UI: pipe for the termination signals failed, errno %d", errno);
    return false;
  }
  g_signal_read_fd = fds[0];
  g_signal_write_fd = fds[1];
  g_signal_loop = &loop;
  WatchFd(loop, fds[0], POLLIN, OnSignalPipeReadable);
  struct sigaction action = {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (size_t i = 0; i < std::size(kTerminationSignals); ++i) {
    sigaction(kTerminationSignals[i], &action, &g_previous_actions[i]);
  }
  return true;
}

void StopTerminationSignals() {
  std::lock_guard lock(g_signal_mutex);
  StopTerminationSignalsLocked();
}

}  // namespace wardex::platform
