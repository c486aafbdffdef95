// Answers message dialogs that nobody can see: "no button" once the show time
// has passed, since nobody pressed one (the first button may well be
// "Delete"). A dialog without a show time stays open, as one that the user
// leaves open, until the Console goes: then every pending dialog is answered
// "no button" at once, so no caller waits for a Console that is gone.
#pragma once

#include <chrono>
#include <condition_variable>
#include <list>
#include <mutex>
#include <optional>
#include <thread>

#include "wardex/message_dialog.h"

namespace wardex::console {

class DialogAnswerer {
 public:
  DialogAnswerer() = default;
  // Answers what is pending and waits for its threads.
  ~DialogAnswerer();
  DialogAnswerer(const DialogAnswerer&) = delete;
  DialogAnswerer& operator=(const DialogAnswerer&) = delete;

  // Arranges the answer of |dialog|; returns at once. False when it has no
  // callback to answer through, or the Console is going.
  bool Schedule(MessageDialog dialog);

  // False for 0 and for 0xFFFFFFFF, the low half of the message's -1 ("not given").
  static bool HasShowTime(const MessageDialog& dialog);

 private:
  struct Pending {
    std::thread thread;
    bool done = false;  // the answer was given; the thread is ending
  };

  // Waits for |deadline| (none: for the Console's end) and answers.
  void Answer(MessageDialog dialog, std::optional<std::chrono::steady_clock::time_point> deadline,
              Pending* pending);
  // Joins the threads of dialogs answered before. Called with lock_ held.
  void ReapAnswered();

  std::mutex lock_;
  std::condition_variable wake_;
  bool closing_ = false;
  std::list<Pending> pending_;  // one thread per dialog
};

}  // namespace wardex::console
