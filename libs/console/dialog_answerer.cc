#include "dialog_answerer.h"

#include <cstdint>
#include <utility>

#include "wardex/crashlog.h"

namespace wardex::console {

DialogAnswerer::~DialogAnswerer() {
  std::list<Pending> pending;
  {
    std::lock_guard<std::mutex> hold(lock_);
    closing_ = true;
    pending.swap(pending_);
  }
  wake_.notify_all();
  for (Pending& entry : pending) entry.thread.join();
}

bool DialogAnswerer::HasShowTime(const MessageDialog& dialog) {
  return dialog.show_time_ms != 0 && dialog.show_time_ms != UINT32_MAX;
}

bool DialogAnswerer::Schedule(MessageDialog dialog) {
  if (dialog.on_complete == nullptr) return false;
  std::optional<std::chrono::steady_clock::time_point> deadline;
  if (HasShowTime(dialog))
    deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(dialog.show_time_ms);
  std::lock_guard<std::mutex> hold(lock_);
  if (closing_) return false;
  ReapAnswered();
  Pending* pending = &pending_.emplace_back();
  pending->thread = std::thread([this, deadline, pending, dialog = std::move(dialog)]() mutable {
    Answer(std::move(dialog), deadline, pending);
  });
  return true;
}

void DialogAnswerer::ReapAnswered() {
  for (auto it = pending_.begin(); it != pending_.end();) {
    if (!it->done) {
      ++it;
      continue;
    }
    it->thread.join();
    it = pending_.erase(it);
  }
}

void DialogAnswerer::Answer(MessageDialog dialog,
                            std::optional<std::chrono::steady_clock::time_point> deadline,
                            Pending* pending) {
  bool timed_out = false;
  {
    std::unique_lock<std::mutex> hold(lock_);
    const auto closing = [this] { return closing_; };
    if (deadline.has_value()) {
      timed_out = !wake_.wait_until(hold, *deadline, closing);
    } else {
      wake_.wait(hold, closing);
    }
  }
  LogW(kLogInfo, u"CONSOLE: dialog \"%s\" answered with no button (%S)", dialog.header.c_str(),
       timed_out ? "show time over" : "Console closing");
  dialog.on_complete(0, kMessageDialogNoButton, &dialog.check_boxes, dialog.context);
  std::lock_guard<std::mutex> hold(lock_);
  pending->done = true;
}

}  // namespace wardex::console
