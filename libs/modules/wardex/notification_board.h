// What every WardexModule object of the process shares. The agent makes one
// object for its tray menu and its module cache may make another for pipe
// requests; the library is loaded once, so both keep one last notification,
// show it through one Console view and signal one named event
// ("WARDEX_LASTNOTIFICATIONEVENT", set while there is a notification to show
// again). The menu's "show the last notification" then finds what a pipe
// request produced.
#pragma once

#include <memory>
#include <mutex>

#include "osal/ka_string.h"
#include "platform/named_objects.h"
#include "wardex/console_view.h"

namespace wardex::demo {

struct Notification {
  KaOSAL::KaString title;
  KaOSAL::KaString text;
};

class NotificationBoard {
 public:
  static NotificationBoard& Get();

  // A module object came: the first resets the event, which an earlier run
  // may have left set in its file.
  void Attach();
  // A module object goes: a view it gave is forgotten; the last one resets
  // the event and forgets the notification.
  void Detach(const void* object);

  // The view that |object| was given (null: it has none any more). A
  // notification that found no view is shown in the first one that comes:
  // the agent starts monitoring before it hands over the Console.
  void SetView(const void* object, IConsoleView* view);
  // Keeps |notification| as the last one, sets the event and shows it.
  void Notify(const Notification& notification);
  // Shows the last notification again; false when there is none.
  bool ShowLast();

 private:
  NotificationBoard() = default;
  void Show(const Notification& notification);
  // The event, created at the first use. Called with lock_ held.
  platform::NamedEvent* Event();

  std::mutex lock_;
  int objects_ = 0;
  Notification last_;
  bool has_last_ = false;
  bool unshown_ = false;  // the last one found no view
  IConsoleView* view_ = nullptr;
  const void* view_owner_ = nullptr;
  std::unique_ptr<platform::NamedEvent> event_;
};

}  // namespace wardex::demo
