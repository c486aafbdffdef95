#include "console_channel.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>
#include <vector>

#include "wardex/crashlog.h"

namespace wardex::console {
namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

ConsoleChannel::ConsoleChannel(Options options, EventHandler on_event)
    : options_(std::move(options)), on_event_(std::move(on_event)) {
  wake_fd_.reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (wake_fd_.get() < 0) {
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
    (void)!write(wake_fd_.get(), &one, sizeof(one));
    thread_.join();
  }
  AnswerAll("the Console view closes");
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
      dialogs_.Open(id, std::move(dialog), deadline);
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
  (void)!write(wake_fd_.get(), &one, sizeof(one));
}

bool ConsoleChannel::Send(const ConsoleMessage& message) { return Enqueue(EncodeFrame(message)); }

void ConsoleChannel::SetStartMessage(const ConsoleMessage& message) {
  std::string frame = EncodeFrame(message);
  {
    std::lock_guard<std::mutex> hold(lock_);
    start_frame_ = frame;
  }
  // A Console starting meanwhile may get it twice, which does no harm.
  if (connected_) static_cast<void>(Enqueue(std::move(frame)));
}

bool ConsoleChannel::Enqueue(std::string frame) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (stopping_ || queue_.size() + frame.size() > options_.max_queued_bytes) return false;
    queue_ += frame;
  }
  const uint64_t one = 1;
  (void)!write(wake_fd_.get(), &one, sizeof(one));
  return true;
}

void ConsoleChannel::Run() {
  while (Step()) {
  }
  if (console_ != nullptr) Disconnect("the Console view closes");
}

bool ConsoleChannel::Step() {
  std::vector<uint32_t> expired;
  bool has_work = false;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (stopping_) return false;
    expired = dialogs_.Expired(Clock::now());
    has_work = !queue_.empty() || !outgoing_.empty();
  }
  for (uint32_t id : expired) {
    LogW(kLogInfo, u"CONSOLE: dialog %u not answered in its show time; answered with no button",
         id);
    Answer(id, kMessageDialogNoButton, nullptr);
  }
  if (has_work && console_ == nullptr && !StartConsole()) {
    AnswerAll("the Console could not be started");
  }

  const auto now = Clock::now();
  if (console_ != nullptr && ping_sent_.has_value() && now - *ping_sent_ > options_.ping_timeout) {
    Disconnect("the Console does not answer");
  } else if (console_ != nullptr && !ping_sent_.has_value() && now >= next_ping_) {
    ping_sent_ = now;
    outgoing_ += EncodeFrame(Ping{++ping_serial_});
  }
  if (console_ != nullptr) WriteToConsole();

  const int socket = console_ != nullptr ? console_->socket() : -1;
  pollfd fds[2] = {{wake_fd_.get(), POLLIN, 0}, {socket, POLLIN, 0}};
  if (socket >= 0 && !outgoing_.empty()) fds[1].events |= POLLOUT;
  const int ready = poll(fds, socket >= 0 ? 2 : 1, NextWakeMs());
  if (ready < 0) return errno == EINTR;
  if (fds[0].revents & POLLIN) {
    uint64_t count = 0;
    (void)!read(wake_fd_.get(), &count, sizeof(count));
  }
  if (socket >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) ReadFromConsole();
  return true;
}

int ConsoleChannel::NextWakeMs() const {
  const auto now = Clock::now();
  Clock::time_point wake = now + std::chrono::seconds(60);
  if (console_ != nullptr)
    wake =
        std::min(wake, ping_sent_.has_value() ? *ping_sent_ + options_.ping_timeout : next_ping_);
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (const auto deadline = dialogs_.NextDeadline()) wake = std::min(wake, *deadline);
  }
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(wake - now).count();
  return static_cast<int>(std::clamp<long long>(ms + 1, 0, 60000));
}

bool ConsoleChannel::StartConsole() {
  console_ = ConsoleProcess::Start(options_.program);
  if (console_ == nullptr) return false;
  connected_ = true;
  reader_ = FrameReader();
  ping_sent_.reset();
  next_ping_ = Clock::now() + options_.ping_interval;
  {
    std::lock_guard<std::mutex> hold(lock_);
    ++starts_;
    outgoing_ = start_frame_;
  }
  return true;
}

void ConsoleChannel::Disconnect(const char* why) {
  connected_ = false;
  outgoing_.clear();
  ping_sent_.reset();
  // Settled before the wait for the process: what is queued from now on
  // starts the next Console instead of being dropped with this one's.
  AnswerAll(why);
  LogW(kLogInfo, u"CONSOLE: the Console (pid %d) is gone: %S", static_cast<int>(console_->id()),
       why);
  console_.reset();
}

void ConsoleChannel::WriteToConsole() {
  for (;;) {
    if (outgoing_.empty()) {
      // Taken only once the last batch (a ping, the start message or the
      // queue) is out, so that a Console that stops reading leaves the queue
      // to fill up and refuse, not this buffer to grow.
      std::lock_guard<std::mutex> hold(lock_);
      outgoing_.swap(queue_);
      if (outgoing_.empty()) return;
    }
    const ssize_t sent =
        send(console_->socket(), outgoing_.data(), outgoing_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
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
  const ssize_t got = recv(console_->socket(), buffer, sizeof(buffer), MSG_DONTWAIT);
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
  } else if (std::holds_alternative<SettingsChosen>(message) ||
             std::holds_alternative<ViewButtonPressed>(message) ||
             std::holds_alternative<MenuCommandChosen>(message)) {
    if (on_event_) on_event_(message);
  } else {
    LogW(kLogError, u"CONSOLE: the Console sent a message meant for it; ignored");
  }
}

bool ConsoleChannel::Answer(uint32_t id, int32_t button, const std::vector<uint8_t>* checked) {
  std::optional<MessageDialog> dialog;
  {
    std::lock_guard<std::mutex> hold(lock_);
    dialog = dialogs_.Take(id);
  }
  if (!dialog.has_value()) return false;
  CompleteWithAnswer(id, *dialog, button, checked);
  return true;
}

void ConsoleChannel::AnswerAll(const char* why) {
  std::map<uint32_t, MessageDialog> open;
  {
    // What was queued for the old Console may be what broke it: it is not
    // resent, and its dialogs are answered with the rest, in one step so
    // that no dialog is queued in between and left without its entry.
    std::lock_guard<std::mutex> hold(lock_);
    queue_.clear();
    open = dialogs_.TakeAll();
  }
  for (auto& [id, dialog] : open) {
    LogW(kLogInfo, u"CONSOLE: dialog %u \"%s\" answered with no button: %S", id,
         dialog.header.c_str(), why);
    Complete(dialog, kMessageDialogNoButton);
  }
}

}  // namespace wardex::console
