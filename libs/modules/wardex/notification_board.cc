#include "notification_board.h"

#include "osal/last_error.h"
#include "wardex/crashlog.h"
#include "wardex/kernel_object_names.h"

namespace wardex::demo {

namespace {
// Notifications stay this long on the screen.
constexpr int32_t kNotificationSeconds = 30;
}  // namespace

NotificationBoard& NotificationBoard::Get() {
  static NotificationBoard board;
  return board;
}

platform::NamedEvent* NotificationBoard::Event() {
  if (event_ == nullptr) {
    event_ = platform::NamedEvent::Create(kLastNotificationEventName, false);
    if (event_ == nullptr) {
      LogW(kLogError, u"WardexModule: cannot create the event %s (error %lu)",
           kLastNotificationEventName, static_cast<unsigned long>(KaOSAL::GetLastError()));
    }
  }
  return event_.get();
}

void NotificationBoard::Attach() {
  std::lock_guard<std::mutex> hold(lock_);
  if (objects_++ > 0) return;
  platform::NamedEvent* event = Event();
  if (event != nullptr && event->already_existed() && !event->Reset()) {
    LogW(kLogError, u"WardexModule: cannot reset the event %s", kLastNotificationEventName);
  }
}

void NotificationBoard::Detach(const void* object) {
  std::lock_guard<std::mutex> hold(lock_);
  if (view_owner_ == object) {
    view_ = nullptr;
    view_owner_ = nullptr;
  }
  if (--objects_ > 0) return;
  has_last_ = false;
  unshown_ = false;
  last_ = Notification{};
  if (event_ != nullptr && !event_->Reset()) {
    LogW(kLogError, u"WardexModule: cannot reset the event %s", kLastNotificationEventName);
  }
  event_.reset();
}

void NotificationBoard::SetView(const void* object, IConsoleView* view) {
  Notification waiting;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (view == nullptr && view_owner_ != object) return;  // another object's view stays
    view_ = view;
    view_owner_ = view != nullptr ? object : nullptr;
    if (view == nullptr || !unshown_) return;
    waiting = last_;
  }
  Show(waiting);
}

void NotificationBoard::Notify(const Notification& notification) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    last_ = notification;
    has_last_ = true;
    platform::NamedEvent* event = Event();
    if (event != nullptr && !event->Set()) {
      LogW(kLogError, u"WardexModule: cannot set the event %s", kLastNotificationEventName);
    }
  }
  Show(notification);
}

bool NotificationBoard::ShowLast() {
  Notification notification;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (!has_last_) return false;
    notification = last_;
  }
  Show(notification);
  return true;
}

void NotificationBoard::Show(const Notification& notification) {
  IConsoleView* view;
  {
    std::lock_guard<std::mutex> hold(lock_);
    view = view_;
    unshown_ = view == nullptr;
  }
  if (view == nullptr) {
    LogW(kLogInfo, u"WardexModule: no Console to show \"%s\"", notification.text.c_str());
    return;
  }
  view->ShowMessage(notification.text, notification.title, kNotificationSeconds, KaOSAL::KaString(),
                    KaOSAL::KaString());
}

}  // namespace wardex::demo
