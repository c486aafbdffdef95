// The message loop on the system's own: every Window is a real, hidden
// top-level window of one window class, so that the shell's broadcasts
// ("TaskbarCreated") and other programs' WM_CLOSE reach it; posted and sent
// messages, WM_QUIT and the registered message numbers are the system's.
//
// Two things are added on top. Timers are one-shot, and may be armed and
// killed from any thread, while the system's timers repeat and belong to the
// window's thread: a table of armed timers decides which WM_TIMER is
// delivered, and another thread's arming reaches the window as a private
// message. And a window procedure sees only the messages our header names
// (and every message from WM_USER up); the rest get the system's default
// handling, which a hidden window needs for the messages of its own life.
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "osal/last_error.h"
#include "platform/system_error_win_internal.h"
#include "platform/ui.h"
#include "platform/windows_api.h"

namespace wardex::platform {

using Clock = std::chrono::steady_clock;

struct MessageLoop::State {
  DWORD thread_id = ::GetCurrentThreadId();
  std::atomic<uint64_t> wakeups{0};
  // A quit ends Run() once the current message is handled, ahead of what is
  // still queued: the system's WM_QUIT would wait for an empty queue.
  std::atomic<bool> quit{false};
  std::atomic<int> quit_code{0};
};

// The link between a Window object and its system window.
struct WindowBinding {
  static MessageLoop::State* LoopState(MessageLoop* loop) { return loop->state_.get(); }
  static void Bind(Window* window, ::HWND system) { window->hwnd_ = FromSystem(system); }
  static void Unbind(Window* window) { window->hwnd_ = nullptr; }
  static HWND FromSystem(::HWND system) { return reinterpret_cast<HWND>(system); }
  static ::HWND ToSystem(HWND hwnd) { return reinterpret_cast<::HWND>(hwnd); }
};

namespace {

constexpr wchar_t kWindowClass[] = L"WardexWindow";

// An armed one-shot timer. |in_system| tells whether the system's timer of
// this id is the one armed for it; until then a WM_TIMER of the id belongs
// to an earlier arming and is dropped.
struct ArmedTimer {
  uint64_t generation;
  Clock::time_point due;
  bool in_system;
};

struct WindowEntry {
  Window* window;
  MessageLoop::State* loop;
  // The system skips WM_DESTROY for a window whose WM_CREATE answered -1;
  // ours get it on every way out.
  bool destroy_delivered = false;
};

// The process's windows and their armed timers.
std::mutex g_table_mutex;
std::unordered_map<::HWND, WindowEntry> g_windows;
std::map<std::pair<::HWND, UINT_PTR>, ArmedTimer> g_timers;
uint64_t g_last_generation = 0;
std::atomic<HWND> g_main_window{nullptr};
// Set while end requests from outside are routed to the main window.
std::atomic<bool> g_route_end_requests{false};

thread_local MessageLoop* t_current_loop = nullptr;

// The private message that arms a timer on its window's thread: wparam the
// timer id, lparam the arming's generation.
UINT ArmTimerMessage() {
  static const UINT message = ::RegisterWindowMessageW(L"Wardex::ArmTimer");
  return message;
}

// Whether |message| goes to the Window's procedure rather than the system's
// default handling: the messages our header names, and every private one.
bool IsOurMessage(UINT message) {
  switch (message) {
    case WM_NULL:
    case WM_CREATE:
    case WM_DESTROY:
    case WM_CLOSE:
    case WM_SETTINGCHANGE:
    case WM_CONTEXTMENU:
    case WM_COMMAND:
    case WM_TIMER:
      return true;
    default:
      return (message >= WM_MOUSEMOVE && message <= WM_RBUTTONDBLCLK) || message >= WM_USER;
  }
}

// Milliseconds from now until |due|, at least 0.
UINT MillisecondsUntil(Clock::time_point due) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()).count();
  return left > 0 ? static_cast<UINT>(left) : 0;
}

// Arms the system's timer for |key| if the arming |generation| is still the
// current one; on the window's thread, the table lock held.
void ArmInSystemLocked(const std::pair<::HWND, UINT_PTR>& key, uint64_t generation) {
  auto it = g_timers.find(key);
  if (it == g_timers.end() || it->second.generation != generation || it->second.in_system) return;
  ::SetTimer(key.first, key.second, MillisecondsUntil(it->second.due), nullptr);
  it->second.in_system = true;
}

// A WM_TIMER: the system's timer goes (ours fire once); true when the timer
// is still armed for this firing, which then disarms it.
bool TakeFiredTimer(::HWND system, UINT_PTR id) {
  ::KillTimer(system, id);
  std::lock_guard lock(g_table_mutex);
  auto it = g_timers.find({system, id});
  if (it == g_timers.end() || !it->second.in_system) return false;
  g_timers.erase(it);
  return true;
}

// Forgets the window and its timers (the system kills its timers with it).
void ForgetWindow(::HWND system) {
  std::lock_guard lock(g_table_mutex);
  g_windows.erase(system);
  for (auto it = g_timers.lower_bound({system, 0});
       it != g_timers.end() && it->first.first == system;)
    it = g_timers.erase(it);
}

LRESULT CALLBACK WindowProcedure(::HWND system, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* window = static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
    ::SetWindowLongPtrW(system, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
    WindowBinding::Bind(window, system);
    {
      std::lock_guard lock(g_table_mutex);
      g_windows[system] = WindowEntry{window, WindowBinding::LoopState(MessageLoop::Current())};
    }
    return ::DefWindowProcW(system, message, wparam, lparam);
  }
  auto* window = reinterpret_cast<Window*>(::GetWindowLongPtrW(system, GWLP_USERDATA));
  if (window == nullptr) return ::DefWindowProcW(system, message, wparam, lparam);
  if (message == WM_DESTROY || message == WM_NCDESTROY) {
    bool delivered;
    {
      std::lock_guard lock(g_table_mutex);
      auto it = g_windows.find(system);
      delivered = it == g_windows.end() || it->second.destroy_delivered;
      if (it != g_windows.end()) it->second.destroy_delivered = true;
    }
    if (!delivered) window->WindowProc(WM_DESTROY, 0, 0);
    if (message == WM_DESTROY) return 0;
    ::SetWindowLongPtrW(system, GWLP_USERDATA, 0);
    ForgetWindow(system);
    if (g_main_window.load() == WindowBinding::FromSystem(system)) g_main_window = nullptr;
    WindowBinding::Unbind(window);
    return ::DefWindowProcW(system, message, wparam, lparam);
  }
  if (message == ArmTimerMessage()) {
    std::lock_guard lock(g_table_mutex);
    ArmInSystemLocked({system, wparam}, static_cast<uint64_t>(lparam));
    return 0;
  }
  if (message == WM_TIMER && !TakeFiredTimer(system, wparam)) return 0;
  // The session ends: the process is ended once this returns, so the main
  // window closes now, as for any other end request.
  if (message == WM_ENDSESSION && wparam != 0 && g_route_end_requests &&
      g_main_window.load() == WindowBinding::FromSystem(system)) {
    window->WindowProc(WM_CLOSE, 0, 0);
    return 0;
  }
  if (!IsOurMessage(message)) return ::DefWindowProcW(system, message, wparam, lparam);
  return window->WindowProc(message, wparam, message == WM_TIMER ? 0 : lparam);
}

// Registers the one window class once per process.
bool RegisterWindowClass() {
  static const bool registered = [] {
    WNDCLASSEXW window_class = {};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = &WindowProcedure;
    window_class.hInstance = ::GetModuleHandleW(nullptr);
    window_class.lpszClassName = kWindowClass;
    return ::RegisterClassExW(&window_class) != 0;
  }();
  return registered;
}

// The entry of our window |hwnd|; null with the last error 1400 when the
// handle is not one of ours. The table lock is held.
WindowEntry* EntryLocked(HWND hwnd) {
  auto it = g_windows.find(WindowBinding::ToSystem(hwnd));
  if (it == g_windows.end()) {
    KaOSAL::SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  return &it->second;
}

}  // namespace

// --- Window -----------------------------------------------------------------

Window::~Window() {
  // WM_DESTROY cannot reach a derived class any more: the system window goes
  // without calling this object.
  if (hwnd_ == nullptr) return;
  ::HWND system = WindowBinding::ToSystem(hwnd_);
  ::SetWindowLongPtrW(system, GWLP_USERDATA, 0);
  ForgetWindow(system);
  if (g_main_window.load() == hwnd_) g_main_window = nullptr;
  ::DestroyWindow(system);
}

HWND Window::Register() {
  MessageLoop* loop = MessageLoop::Current();
  if (loop == nullptr || hwnd_ != nullptr) {
    KaOSAL::SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  if (!RegisterWindowClass()) {
    KeepSystemError();
    return nullptr;
  }
  // Hidden and top-level; a tool window, so that it never gets a taskbar
  // button should anything show it.
  ::HWND system = ::CreateWindowExW(WS_EX_TOOLWINDOW, kWindowClass, L"", WS_POPUP, 0, 0, 0, 0,
                                    nullptr, nullptr, ::GetModuleHandleW(nullptr), this);
  if (system == nullptr) {
    KeepSystemError();
    return nullptr;
  }
  return hwnd_;
}

bool Window::Destroy() {
  if (hwnd_ == nullptr) return false;
  if (!::DestroyWindow(WindowBinding::ToSystem(hwnd_))) {
    KeepSystemError();
    return false;
  }
  return true;
}

// --- MessageLoop ------------------------------------------------------------

MessageLoop::MessageLoop() : state_(std::make_unique<State>()) { t_current_loop = this; }

MessageLoop::~MessageLoop() {
  // Windows still bound to this loop leave without WM_DESTROY reaching them;
  // senders still waiting get 0 as the system destroys the windows.
  std::vector<std::pair<::HWND, Window*>> left;
  {
    std::lock_guard lock(g_table_mutex);
    for (const auto& [system, entry] : g_windows) {
      if (entry.loop == state_.get()) left.emplace_back(system, entry.window);
    }
  }
  for (const auto& [system, window] : left) {
    ::SetWindowLongPtrW(system, GWLP_USERDATA, 0);
    ForgetWindow(system);
    if (g_main_window.load() == WindowBinding::FromSystem(system)) g_main_window = nullptr;
    WindowBinding::Unbind(window);
    ::DestroyWindow(system);
  }
  if (t_current_loop == this) t_current_loop = nullptr;
}

MessageLoop* MessageLoop::Current() { return t_current_loop; }

uint64_t MessageLoop::wakeups() const { return state_->wakeups.load(); }

void MessageLoop::Quit(int exit_code) {
  state_->quit_code = exit_code;
  state_->quit = true;
  // Wakes the loop; should a modal loop (a menu) take this message, the flag
  // is seen once that ends.
  ::PostThreadMessageW(state_->thread_id, WM_NULL, 0, 0);
}

int MessageLoop::Run() {
  state_->quit = false;
  for (;;) {
    MSG message;
    while (!state_->quit && ::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) return static_cast<int>(message.wParam);
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    if (state_->quit) return state_->quit_code;
    // Sent messages are handled inside PeekMessageW; this returns for them
    // and for everything else that arrives.
    ::MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    ++state_->wakeups;
  }
}

// --- Messages ---------------------------------------------------------------

bool PostMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (!::PostMessageW(WindowBinding::ToSystem(hwnd), message, wparam, lparam)) {
    KeepSystemError();
    return false;
  }
  return true;
}

void BroadcastMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  // HWND_BROADCAST, spelt out: the macro's cast would take our HWND here.
  const auto broadcast = reinterpret_cast<::HWND>(static_cast<uintptr_t>(0xFFFF));
  ::PostMessageW(broadcast, message, wparam, lparam);
}

bool SendMessageTimeout(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, uint32_t timeout_ms,
                        LRESULT* result) {
  *result = 0;
  ::HWND system = WindowBinding::ToSystem(hwnd);
  if (!::IsWindow(system)) {
    KaOSAL::SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  if (timeout_ms == kInfinite) {
    *result = ::SendMessageW(system, message, wparam, lparam);
    return true;
  }
  DWORD_PTR answer = 0;
  if (::SendMessageTimeoutW(system, message, wparam, lparam, SMTO_NORMAL, timeout_ms, &answer) ==
      0) {
    KeepSystemError();
    return false;
  }
  *result = static_cast<LRESULT>(answer);
  return true;
}

LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  return ::SendMessageW(WindowBinding::ToSystem(hwnd), message, wparam, lparam);
}

void PostQuitMessage(int exit_code) {
  if (MessageLoop* loop = MessageLoop::Current()) loop->Quit(exit_code);
}

bool IsWindow(HWND hwnd) { return ::IsWindow(WindowBinding::ToSystem(hwnd)); }

// --- Timers -----------------------------------------------------------------

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, uint32_t elapse_ms) {
  std::lock_guard lock(g_table_mutex);
  WindowEntry* entry = EntryLocked(hwnd);
  if (entry == nullptr) return 0;
  const std::pair<::HWND, UINT_PTR> key{WindowBinding::ToSystem(hwnd), id};
  const uint64_t generation = ++g_last_generation;
  g_timers[key] =
      ArmedTimer{generation, Clock::now() + std::chrono::milliseconds(elapse_ms), false};
  if (entry->loop->thread_id == ::GetCurrentThreadId()) {
    ArmInSystemLocked(key, generation);
  } else {
    ::PostMessageW(key.first, ArmTimerMessage(), id, static_cast<LPARAM>(generation));
  }
  return id;
}

bool KillTimer(HWND hwnd, UINT_PTR id) {
  std::lock_guard lock(g_table_mutex);
  WindowEntry* entry = EntryLocked(hwnd);
  if (entry == nullptr) return false;
  const std::pair<::HWND, UINT_PTR> key{WindowBinding::ToSystem(hwnd), id};
  if (g_timers.erase(key) == 0) return false;
  // From another thread the system's timer stays until it fires; its
  // WM_TIMER then finds the timer disarmed and is dropped.
  if (entry->loop->thread_id == ::GetCurrentThreadId()) ::KillTimer(key.first, id);
  return true;
}

// --- Main window and registered messages -----------------------------------

void SetMainWindow(HWND hwnd) { g_main_window = hwnd; }

HWND GetMainWindow() { return g_main_window.load(); }

UINT RegisterWindowMessage(const char16_t* name) {
  if (name == nullptr || *name == 0) return 0;
  return ::RegisterWindowMessageW(reinterpret_cast<const wchar_t*>(name));
}

// --- End requests -----------------------------------------------------------

bool RouteTerminationSignals(MessageLoop& /*loop*/) {
  g_route_end_requests = true;
  return true;
}

void StopTerminationSignals() { g_route_end_requests = false; }

}  // namespace wardex::platform
