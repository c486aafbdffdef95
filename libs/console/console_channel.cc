#include "console_channel.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>
#include <vector>

#include "osal/wide_format.h"
#include "wardex/crashlog.h"

extern char** environ;

namespace wardex::console {
namespace {

using Clock = std::chrono::steady_clock;

// How long a Console whose socket closed may take to end before it is killed.
constexpr auto kExitGrace = std::chrono::milliseconds(1000);

// The protocol form of |dialog|: texts cut to the limit, at most
// kMaxDialogButtons buttons and kMaxDialogCheckBoxes check boxes.
ShowDialogMessage ToMessage(uint32_t id, const MessageDialog& dialog) {
  ShowDialogMessage message;
  message.id = id;
  message.header = ProtocolText(dialog.header);
  message.message = ProtocolText(dialog.message);
  message.caption_style = ProtocolText(dialog.caption_style);
  message.message_style = ProtocolText(dialog.message_style);
  message.icon = dialog.icon;
  // The agent's "not given" (-1) arrives here as its low 32 bits.
  message.show_time_ms = dialog.show_time_ms == UINT32_MAX ? 0 : dialog.show_time_ms;
  const size_t buttons = std::min<size_t>(dialog.buttons.size(), kMaxDialogButtons);
  for (size_t i = 0; i < buttons; ++i)
    message.buttons.push_back({ProtocolText(dialog.buttons[i].title), dialog.buttons[i].value});
  const size_t boxes = std::min<size_t>(dialog.check_boxes.size(), kMaxDialogCheckBoxes);
  for (size_t i = 0; i < boxes; ++i)
    message.check_boxes.push_back(
        {ProtocolText(dialog.check_boxes[i].title), dialog.check_boxes[i].checked != 0});
  return message;
}

// True when |button| is -1 or the value of one of the buttons the Console was shown.
bool IsOfferedButton(const MessageDialog& dialog, int32_t button) {
  if (button == kMessageDialogNoButton) return true;
  const size_t shown = std::min<size_t>(dialog.buttons.size(), kMaxDialogButtons);
  return std::any_of(dialog.buttons.begin(), dialog.buttons.begin() + static_cast<long>(shown),
                     [button](const MessageDialogButton& b) { return b.value == button; });
}

void Complete(MessageDialog& dialog, int32_t button) {
  if (dialog.on_complete != nullptr)
    dialog.on_complete(0, button, &dialog.check_boxes, dialog.context);
}

// Reaps |pid|, killing it when it has not ended within kExitGrace.
void EndProcess(int pid) {
  const auto deadline = Clock::now() + kExitGrace;
  while (Clock::now() < deadline) {
    const int reaped = waitpid(pid, nullptr, WNOHANG);
    if (reaped == pid || (reaped < 0 && errno != EINTR)) return;
    usleep(5000);
  }
  kill(pid, SIGKILL);
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

std::string ProtocolText(const KaOSAL::KaString& text, size_t max_bytes) {
  return FitText(KaOSAL::ToUtf8(text.c_str(), static_cast<size_t>(text.GetLength())), max_bytes);
}

ConsoleChannel::ConsoleChannel(Options options, EventHandler on_event)
    : options_(std::move(options)), on_event_(std::move(on_event)) {
  wake_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_fd_ < 0) {
    LogW(kLogError, u"CONSOLE: no event descriptor (errno %d); the Console stays closed", errno);
    stopping_ = true;
    return;
  }
  thread_ = std::thread([this] { Run(); });
}

ConsoleChannel::~ConsoleChannel() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
  }
  if (thread_.joinable()) {
    const uint64_t one = 1;
    (void)!write(wake_fd_, &one, sizeof(one));
    thread_.join();
  }
  AnswerAll("the Console view closes");
  if (wake_fd_ >= 0) close(wake_fd_);
}

uint32_t ConsoleChannel::NextId() {
  std::lock_guard<std::mutex> hold(lock_);
  return next_id_++;
}

int ConsoleChannel::starts() const {
  std::lock_guard<std::mutex> hold(lock_);
  return starts_;
}

void ConsoleChannel::ShowDialog(MessageDialog dialog) {
  const uint32_t id = NextId();
  std::string frame = EncodeFrame(ToMessage(id, dialog));
  std::optional<Clock::time_point> deadline;
  if (dialog.show_time_ms != 0 && dialog.show_time_ms != UINT32_MAX)
    deadline =
        Clock::now() + std::chrono::milliseconds(dialog.show_time_ms) + options_.dialog_grace;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (!stopping_ && queue_.size() + frame.size() <= options_.max_queued_bytes) {
      dialogs_.emplace(id, OpenDialog{std::move(dialog), deadline});
      queue_ += frame;
      frame.clear();
    }
  }
  if (!frame.empty()) {
    LogW(kLogError,
         u"CONSOLE: dialog \"%s\" not sent: the Console is busy or closing; "
         u"answered with no button",
         dialog.header.c_str());
    Complete(dialog, kMessageDialogNoButton);
    return;
  }
  const uint64_t one = 1;
  (void)!write(wake_fd_, &one, sizeof(one));
}

bool ConsoleChannel::Send(const ConsoleMessage& message) { return Enqueue(EncodeFrame(message)); }

bool ConsoleChannel::ShowNews(const ShowNewsMessage& message, std::chrono::milliseconds limit) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (!news_waits_allowed_) return false;
    news_[message.id].reset();
  }
  std::unique_lock<std::mutex> hold(lock_, std::defer_lock);
  bool shown = false;
  if (Enqueue(EncodeFrame(message))) {
    hold.lock();
    news_answered_.wait_for(hold, limit, [&] { return news_[message.id].has_value(); });
    shown = news_[message.id].value_or(false);
  } else {
    hold.lock();
  }
  news_.erase(message.id);
  return shown;
}

void ConsoleChannel::AllowNewsWaits(bool allowed) {
  std::lock_guard<std::mutex> hold(lock_);
  news_waits_allowed_ = allowed;
  if (!allowed) EndNewsWaits();
}

void ConsoleChannel::EndNewsWaits() {
  for (auto& [id, shown] : news_)
    if (!shown.has_value()) shown = false;
  news_answered_.notify_all();
}

bool ConsoleChannel::Enqueue(std::string frame) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (stopping_ || queue_.size() + frame.size() > options_.max_queued_bytes) return false;
    queue_ += frame;
  }
  const uint64_t one = 1;
  (void)!write(wake_fd_, &one, sizeof(one));
  return true;
}

void ConsoleChannel::Run() {
  while (Step()) {
  }
  if (socket_ >= 0) Disconnect("the Console view closes");
}

bool ConsoleChannel::Step() {
  std::vector<uint32_t> expired;
  bool has_work = false;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (stopping_) return false;
    const auto now = Clock::now();
    for (const auto& [id, open] : dialogs_)
      if (open.deadline.has_value() && *open.deadline <= now) expired.push_back(id);
    has_work = !queue_.empty() || !outgoing_.empty();
  }
  for (uint32_t id : expired) {
    LogW(kLogInfo, u"CONSOLE: dialog %u not answered in its show time; answered with no button",
         id);
    Answer(id, kMessageDialogNoButton, nullptr);
  }
  if (has_work && socket_ < 0 && !StartConsole()) AnswerAll("the Console could not be started");

  const auto now = Clock::now();
  if (socket_ >= 0 && ping_sent_.has_value() && now - *ping_sent_ > options_.ping_timeout) {
    Disconnect("the Console does not answer");
  } else if (socket_ >= 0 && !ping_sent_.has_value() && now >= next_ping_) {
    ping_sent_ = now;
    outgoing_ += EncodeFrame(Ping{++ping_serial_});
  }
  if (socket_ >= 0) WriteToConsole();

  pollfd fds[2] = {{wake_fd_, POLLIN, 0}, {socket_, POLLIN, 0}};
  if (socket_ >= 0 && !outgoing_.empty()) fds[1].events |= POLLOUT;
  const int ready = poll(fds, socket_ >= 0 ? 2 : 1, NextWakeMs());
  if (ready < 0) return errno == EINTR;
  if (fds[0].revents & POLLIN) {
    uint64_t count = 0;
    (void)!read(wake_fd_, &count, sizeof(count));
  }
  if (socket_ >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) ReadFromConsole();
  return true;
}

int ConsoleChannel::NextWakeMs() const {
  const auto now = Clock::now();
  Clock::time_point wake = now + std::chrono::seconds(60);
  if (socket_ >= 0)
    wake =
        std::min(wake, ping_sent_.has_value() ? *ping_sent_ + options_.ping_timeout : next_ping_);
  {
    std::lock_guard<std::mutex> hold(lock_);
    for (const auto& [id, open] : dialogs_)
      if (open.deadline.has_value()) wake = std::min(wake, *open.deadline);
  }
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(wake - now).count();
  return static_cast<int>(std::clamp<long long>(ms + 1, 0, 60000));
}

bool ConsoleChannel::StartConsole() {
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
    LogW(kLogError, u"CONSOLE: no socket pair for the Console (errno %d)", errno);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // dup2 onto the fixed descriptor clears close-on-exec there, and only there.
  posix_spawn_file_actions_adddup2(&actions, pair[1], kConsoleSocketFd);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::vector<char*> argv = {const_cast<char*>(options_.program.c_str()), nullptr};
  pid_t pid = -1;
  const int error =
      posix_spawn(&pid, options_.program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  close(pair[1]);
  if (error != 0) {
    close(pair[0]);
    LogW(kLogError, u"CONSOLE: cannot start %S (errno %d)", options_.program.c_str(), error);
    return false;
  }
  socket_ = pair[0];
  pid_ = pid;
  connected_ = true;
  reader_ = FrameReader();
  ping_sent_.reset();
  next_ping_ = Clock::now() + options_.ping_interval;
  {
    std::lock_guard<std::mutex> hold(lock_);
    ++starts_;
  }
  LogW(kLogInfo, u"CONSOLE: started %S (pid %d)", options_.program.c_str(), pid);
  return true;
}

void ConsoleChannel::Disconnect(const char* why) {
  LogW(kLogInfo, u"CONSOLE: the Console (pid %d) is gone: %S", pid_, why);
  close(socket_);
  socket_ = -1;
  EndProcess(pid_);
  pid_ = -1;
  connected_ = false;
  outgoing_.clear();
  ping_sent_.reset();
  AnswerAll(why);
}

void ConsoleChannel::WriteToConsole() {
  if (outgoing_.empty()) {
    // Taken only once the last batch is out, so that a Console that stops
    // reading leaves the queue to fill up and refuse, not this buffer to grow.
    std::lock_guard<std::mutex> hold(lock_);
    outgoing_.swap(queue_);
  }
  while (!outgoing_.empty()) {
    const ssize_t sent =
        send(socket_, outgoing_.data(), outgoing_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
      outgoing_.erase(0, static_cast<size_t>(sent));
    } else if (sent < 0 && errno == EINTR) {
      continue;
    } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return;
    } else {
      Disconnect("the Console's socket failed");
      return;
    }
  }
}

void ConsoleChannel::ReadFromConsole() {
  char buffer[64 * 1024];
  const ssize_t got = recv(socket_, buffer, sizeof(buffer), MSG_DONTWAIT);
  if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) return;
  if (got <= 0) {
    Disconnect("the Console ended");
    return;
  }
  reader_.Append(buffer, static_cast<size_t>(got));
  ConsoleMessage message;
  for (;;) {
    const FrameReader::Status status = reader_.Next(&message);
    if (status == FrameReader::Status::kNeedMore) return;
    if (status == FrameReader::Status::kMalformed) {
      Disconnect("the Console sent a malformed message");
      return;
    }
    Handle(message);
  }
}

void ConsoleChannel::Handle(const ConsoleMessage& message) {
  if (const auto* pong = std::get_if<Pong>(&message)) {
    if (pong->serial == ping_serial_) {
      ping_sent_.reset();
      next_ping_ = Clock::now() + options_.ping_interval;
    }
  } else if (const auto* answer = std::get_if<DialogAnswer>(&message)) {
    if (!Answer(answer->id, answer->button, &answer->checked))
      LogW(kLogInfo, u"CONSOLE: answer for dialog %u, which is no longer open", answer->id);
  } else if (std::holds_alternative<NotificationAction>(message) ||
             std::holds_alternative<SettingsChosen>(message) ||
             std::holds_alternative<ViewButtonPressed>(message) ||
             std::holds_alternative<MenuCommandChosen>(message)) {
    if (on_event_) on_event_(message);
  } else if (const auto* news = std::get_if<NewsShown>(&message)) {
    std::lock_guard<std::mutex> hold(lock_);
    const auto it = news_.find(news->id);
    if (it != news_.end()) it->second = news->shown;
    news_answered_.notify_all();
  } else {
    LogW(kLogError, u"CONSOLE: the Console sent a message meant for it; ignored");
  }
}

bool ConsoleChannel::Answer(uint32_t id, int32_t button, const std::vector<uint8_t>* checked) {
  MessageDialog dialog;
  {
    std::lock_guard<std::mutex> hold(lock_);
    const auto it = dialogs_.find(id);
    if (it == dialogs_.end()) return false;
    dialog = std::move(it->second.dialog);
    dialogs_.erase(it);
  }
  if (!IsOfferedButton(dialog, button)) {
    LogW(kLogError,
         u"CONSOLE: dialog %u answered with button %d, which it does not have; "
         u"taken as no button",
         id, button);
    button = kMessageDialogNoButton;
  }
  if (checked != nullptr) {
    const size_t boxes = std::min(checked->size(), dialog.check_boxes.size());
    for (size_t i = 0; i < boxes; ++i) dialog.check_boxes[i].checked = (*checked)[i] != 0 ? 1 : 0;
  }
  LogW(kLogInfo, u"CONSOLE: dialog %u \"%s\" answered with button %d", id, dialog.header.c_str(),
       button);
  Complete(dialog, button);
  return true;
}

void ConsoleChannel::AnswerAll(const char* why) {
  std::map<uint32_t, OpenDialog> open;
  {
    // What was queued for the old Console may be what broke it: it is not
    // resent, and its dialogs are answered with the rest, in one step so
    // that no dialog is queued in between and left without its entry.
    std::lock_guard<std::mutex> hold(lock_);
    queue_.clear();
    open.swap(dialogs_);
    EndNewsWaits();
  }
  for (auto& [id, entry] : open) {
    LogW(kLogInfo, u"CONSOLE: dialog %u \"%s\" answered with no button: %S", id,
         entry.dialog.header.c_str(), why);
    Complete(entry.dialog, kMessageDialogNoButton);
  }
}

}  // namespace wardex::console
