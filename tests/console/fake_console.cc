// fake-console: a Console process for the module's tests. It speaks the
// protocol on descriptor 3 and does what each dialog's header tells it:
//   press:N       press the N-th button shown (0-based; "last" for the last)
//                 and tick every check box that was clear and clear the others
//   bogus-button  answer with a value that no button has
//   ignore        never answer (pings are still answered)
//   hang          stop reading and answering anything
//   crash         end at once, as a crash would
//   garbage       send a frame longer than the protocol allows
//   late:MS       press the first button after MS milliseconds
//   press-view    press the first button of the last view shown, then this
//                 dialog's first button
// A module view's first button is also pressed at once in each view shown
// while FAKE_CONSOLE_VIEW_PRESSES (a count) lasts.
// With FAKE_CONSOLE_SETTINGS ("language,logon,news": "de,1,0") the settings
// window saves those at once.
// With FAKE_CONSOLE_RECORD set it appends one line per message received:
// "dialog <header> <message bytes> <buttons> <check boxes>" or
// "view <id> <title> <enabled buttons>".
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "protocol/console_protocol.h"

namespace {

using namespace wardex::console;

// The socket blocks: a write takes the whole frame or fails.
void Write(const ConsoleMessage& message) {
  const std::string frame = EncodeFrame(message);
  if (write(kConsoleSocketFd, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size()))
    std::_Exit(1);
}

void Record(const std::string& line) {
  if (const char* path = getenv("FAKE_CONSOLE_RECORD"))
    std::ofstream(path, std::ios::app) << line << '\n';
}

void Press(const ShowDialogMessage& dialog, size_t index) {
  DialogAnswer answer;
  answer.id = dialog.id;
  answer.button = index < dialog.buttons.size() ? dialog.buttons[index].value : -1;
  for (const DialogCheckBox& box : dialog.check_boxes)
    answer.checked.push_back(box.checked ? 0 : 1);
  Write(answer);
}

ShowViewMessage g_last_view;

// Presses the first button of |view|, enabled or not: a click may race the
// update that greys it.
void PressFirstButton(const ShowViewMessage& view) {
  if (!view.buttons.empty()) Write(ViewButtonPressed{view.view_id, view.buttons.front().id});
}

void OnDialog(const ShowDialogMessage& dialog) {
  Record("dialog " + dialog.header + " " + std::to_string(dialog.message.size()) + " " +
         std::to_string(dialog.buttons.size()) + " " + std::to_string(dialog.check_boxes.size()));
  const std::string& what = dialog.header;
  if (what.rfind("press:", 0) == 0) {
    // "last" of no buttons is out of range, as any index is: no button.
    Press(dialog, what == "press:last" ? dialog.buttons.size() - 1 : std::stoul(what.substr(6)));
  } else if (what == "bogus-button") {
    Write(DialogAnswer{dialog.id, 12345, {}});
  } else if (what == "hang") {
    for (;;) pause();
  } else if (what == "crash") {
    std::_Exit(3);
  } else if (what == "garbage") {
    const char frame[] = {'\xff', '\xff', '\xff', '\x7f', 2};
    (void)!write(kConsoleSocketFd, frame, sizeof(frame));
  } else if (what == "press-view") {
    PressFirstButton(g_last_view);
    Press(dialog, 0);
  } else if (what.rfind("late:", 0) == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::stoul(what.substr(5))));
    Press(dialog, 0);
  }
}

}  // namespace

int main() {
  const char* presses = getenv("FAKE_CONSOLE_VIEW_PRESSES");
  long view_presses_left = presses != nullptr ? std::atol(presses) : 0;
  const char* settings = getenv("FAKE_CONSOLE_SETTINGS");
  FrameReader reader;
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(kConsoleSocketFd, buffer, sizeof(buffer));
    if (got <= 0) return 0;
    reader.Append(buffer, static_cast<size_t>(got));
    ConsoleMessage message;
    for (;;) {
      const FrameReader::Status status = reader.Next(&message);
      if (status == FrameReader::Status::kNeedMore) break;
      if (status == FrameReader::Status::kMalformed) return 2;
      if (const auto* ping = std::get_if<Ping>(&message)) {
        Write(Pong{ping->serial});
      } else if (const auto* dialog = std::get_if<ShowDialogMessage>(&message)) {
        OnDialog(*dialog);
      } else if (const auto* view = std::get_if<ShowViewMessage>(&message)) {
        const auto enabled = std::count_if(view->buttons.begin(), view->buttons.end(),
                                           [](const ViewButtonData& b) { return b.enabled; });
        Record("view " + std::to_string(view->view_id) + " " + view->title + " " +
               std::to_string(enabled));
        g_last_view = *view;
        if (view_presses_left > 0 && enabled > 0) {
          --view_presses_left;
          PressFirstButton(*view);
        }
      } else if (std::holds_alternative<ShowSettingsMessage>(message) && settings != nullptr) {
        const std::string chosen = settings;
        Write(SettingsChosen{chosen.substr(0, chosen.find(',')),
                             chosen.find(",1,") != std::string::npos, chosen.back() == '1'});
      }
    }
  }
}
