#include "win/window_thread.h"

#include <string_view>
#include <utility>
#include <vector>

#include "wardex/crashlog.h"
#include "win/dialog_window.h"
#include "win/page_windows.h"
#include "win/window_layout.h"

namespace wardex::console::win {
namespace {

// Posted to the dispatcher: something was queued, or the thread is to end.
constexpr UINT kWake = WM_APP + 1;
// More messages than a person can read while the windows are busy.
constexpr size_t kMaxQueuedMessages = 64;

// The thread's top-level windows, the dispatcher aside.
std::vector<HWND> WindowsOfThread(DWORD thread, HWND dispatcher) {
  struct Found {
    HWND dispatcher;
    std::vector<HWND> windows;
  } found{dispatcher, {}};
  EnumThreadWindows(
      thread,
      [](HWND window, LPARAM context) -> BOOL {
        auto* found = reinterpret_cast<Found*>(context);
        if (window != found->dispatcher) found->windows.push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found.windows;
}

// The Console's object behind one of its windows; null for another window
// of the thread (a menu).
ConsoleDialog* DialogOf(HWND window) {
  wchar_t window_class[8] = {};
  GetClassNameW(window, window_class, 8);
  if (std::wstring_view(window_class) != L"#32770") return nullptr;
  return reinterpret_cast<ConsoleDialog*>(GetWindowLongPtrW(window, DWLP_USER));
}

}  // namespace

WindowThread::WindowThread(EventHandler on_event) : on_event_(std::move(on_event)) {
  thread_ = std::thread([this] { Run(); });
  std::unique_lock<std::mutex> hold(lock_);
  started_signal_.wait(hold, [this] { return started_; });
}

WindowThread::~WindowThread() {
  std::map<uint32_t, MessageDialog> open;
  HWND dispatcher = nullptr;
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
    queue_.clear();
    open = dialogs_.TakeAll();
    dispatcher = dispatcher_;
  }
  for (auto& [id, dialog] : open) CompleteWithAnswer(id, dialog, kMessageDialogNoButton, nullptr);
  if (dispatcher != nullptr) PostMessageW(dispatcher, kWake, 0, 0);
  thread_.join();
}

uint32_t WindowThread::NextId() {
  std::lock_guard<std::mutex> hold(lock_);
  return next_id_++;
}

void WindowThread::ShowDialog(MessageDialog dialog) {
  bool queued = false;
  {
    std::lock_guard<std::mutex> hold(lock_);
    const uint32_t id = next_id_++;
    if (!stopping_ && queue_.size() < kMaxQueuedMessages) {
      queue_.push_back(ToMessage(id, dialog));
      dialogs_.Open(id, std::move(dialog), std::nullopt);
      queued = true;
    }
  }
  if (!queued) {
    LogW(kLogError,
         u"CONSOLE: dialog \"%s\" not shown: the Console is busy or closing; "
         u"answered with no button",
         dialog.header.c_str());
    Complete(dialog, kMessageDialogNoButton);
    return;
  }
  PostMessageW(dispatcher_, kWake, 0, 0);
}

bool WindowThread::Send(const ConsoleMessage& message) { return Enqueue(message); }

void WindowThread::SetStartMessage(const ConsoleMessage& message) {
  static_cast<void>(Enqueue(message));
}

bool WindowThread::Enqueue(ConsoleMessage message) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (stopping_ || queue_.size() >= kMaxQueuedMessages) return false;
    queue_.push_back(std::move(message));
  }
  PostMessageW(dispatcher_, kWake, 0, 0);
  return true;
}

void WindowThread::Run() {
  HWND dispatcher = CreateEmptyDialog(HWND_MESSAGE, DispatcherProc, reinterpret_cast<LPARAM>(this));
  {
    std::lock_guard<std::mutex> hold(lock_);
    dispatcher_ = dispatcher;
    thread_id_ = GetCurrentThreadId();
    started_ = true;
    if (dispatcher == nullptr) stopping_ = true;
  }
  started_signal_.notify_all();
  if (dispatcher == nullptr) {
    LogW(kLogError, u"CONSOLE: no window for the Console's thread (error %lu); no windows",
         GetLastError());
    return;
  }
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    // The keyboard of a dialog: Tab, Enter, Escape, arrows, mnemonics.
    HWND root = message.hwnd != nullptr ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
    if (root != nullptr && root != dispatcher && IsDialogMessageW(root, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  DestroyWindow(dispatcher);
}

void WindowThread::Drain() {
  std::deque<ConsoleMessage> queued;
  bool stopping = false;
  {
    std::lock_guard<std::mutex> hold(lock_);
    queued.swap(queue_);
    stopping = stopping_;
  }
  if (stopping) {
    // The dialogs were answered; their windows go without a word.
    for (HWND window : WindowsOfThread(thread_id_, dispatcher_)) DestroyWindow(window);
    PostQuitMessage(0);
    return;
  }
  for (const ConsoleMessage& message : queued) Open(message);
}

void WindowThread::Open(const ConsoleMessage& message) {
  if (const auto* dialog = std::get_if<ShowDialogMessage>(&message)) {
    if (!DialogWindow::Open(*dialog, [this](const DialogAnswer& answer) { Answer(answer); }))
      Answer(DialogAnswer{dialog->id, kMessageDialogNoButton, {}});
  } else if (const auto* texts = std::get_if<SetTexts>(&message)) {
    texts_.Set(*texts);
    for (HWND window : WindowsOfThread(thread_id_, dispatcher_)) {
      if (ConsoleDialog* open = DialogOf(window)) open->Retitle(texts_);
    }
  } else if (const auto* info = std::get_if<ShowInfoMessage>(&message)) {
    InfoWindow::Open(texts_, *info);
  } else if (const auto* settings = std::get_if<ShowSettingsMessage>(&message)) {
    SettingsWindow::Open(texts_, *settings, on_event_);
  } else if (const auto* view = std::get_if<ShowViewMessage>(&message)) {
    ShowView(*view);
  }
}

void WindowThread::ShowView(const ShowViewMessage& view) {
  if (const auto open = views_.find(view.view_id); open != views_.end()) {
    open->second->Update(view);
    SetForegroundWindow(open->second->hwnd());
    return;
  }
  ViewWindow* window = ViewWindow::Open(texts_, view, on_event_);
  if (window == nullptr) return;
  views_[view.view_id] = window;
  window->on_destroyed = [this, id = view.view_id] { views_.erase(id); };
}

void WindowThread::Answer(const DialogAnswer& answer) {
  std::optional<MessageDialog> dialog;
  {
    std::lock_guard<std::mutex> hold(lock_);
    dialog = dialogs_.Take(answer.id);
  }
  // Not open: answered already, as the Console went.
  if (dialog.has_value()) CompleteWithAnswer(answer.id, *dialog, answer.button, &answer.checked);
}

INT_PTR CALLBACK WindowThread::DispatcherProc(HWND window, UINT message, WPARAM, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(window, DWLP_USER, lparam);
    return FALSE;
  }
  if (message != kWake) return FALSE;
  if (auto* self = reinterpret_cast<WindowThread*>(GetWindowLongPtrW(window, DWLP_USER)))
    self->Drain();
  return TRUE;
}

}  // namespace wardex::console::win
