// A message dialog for the Console's tests and what its completion callback
// received.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "osal/wide_format.h"
#include "wardex/message_dialog.h"

namespace wardex::console {

// What one dialog's completion callback received.
struct Answer {
  std::mutex lock;
  std::condition_variable done;
  int calls = 0;
  int32_t button = 0;
  std::vector<uint8_t> checked;

  bool WaitFor(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> hold(lock);
    return done.wait_for(hold, limit, [this] { return calls > 0; });
  }
  int Calls() {
    std::lock_guard<std::mutex> hold(lock);
    return calls;
  }
  // The calls so far, and the button and check boxes of the last one.
  std::tuple<int, int32_t, std::vector<uint8_t>> Received() {
    std::lock_guard<std::mutex> hold(lock);
    return {calls, button, checked};
  }
};

inline void WARDEX_STDCALL OnComplete(int32_t, int32_t button,
                                      const std::vector<MessageDialogCheckBox>* boxes,
                                      void* context) {
  auto* answer = static_cast<Answer*>(context);
  std::lock_guard<std::mutex> hold(answer->lock);
  ++answer->calls;
  answer->button = button;
  answer->checked.clear();
  for (const MessageDialogCheckBox& box : *boxes) answer->checked.push_back(box.checked);
  answer->done.notify_all();
}

// A dialog headed |behaviour| (what fake-console reads as what to do);
// buttons B0, B1, ... valued 100, 101, ...; check boxes Box 0, Box 1, ...
// alternately ticked, starting with a ticked one.
inline MessageDialog Dialog(const std::string& behaviour, Answer* answer, int buttons = 2,
                            int check_boxes = 2, uint32_t show_time_ms = 0) {
  MessageDialog dialog;
  dialog.header = KaOSAL::FromUtf8(behaviour).c_str();
  dialog.message = u"Remove <b>42</b> files & folders";
  dialog.show_time_ms = show_time_ms;
  for (int i = 0; i < buttons; ++i)
    dialog.buttons.push_back({u"B" + KaOSAL::KaString::FromInt(i), 100 + i, {}, {}, 0});
  for (int i = 0; i < check_boxes; ++i)
    dialog.check_boxes.push_back({u"Box " + KaOSAL::KaString::FromInt(i), i, uint8_t{i % 2 == 0}});
  dialog.on_complete = &OnComplete;
  dialog.context = answer;
  return dialog;
}

// Check-box states as given (1, 0, 1, ...), the first |inverted| of them flipped.
inline std::vector<uint8_t> Boxes(int count, int inverted) {
  std::vector<uint8_t> states;
  for (int i = 0; i < count; ++i)
    states.push_back(static_cast<uint8_t>((i % 2 == 0) != (i < inverted)));
  return states;
}

}  // namespace wardex::console
