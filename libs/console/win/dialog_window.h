// The message dialog: the header as its title and, in its style, above the
// message; the icon; one check box and one button per described one, the
// first button the default. A button answers with its value; Escape, the
// close box and the end of the show time answer "no button". The answer
// carries the check boxes as the user left them, and is given exactly once.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "protocol/console_protocol.h"
#include "win/window_layout.h"

namespace wardex::console::win {

class DialogWindow final : public ConsoleDialog {
 public:
  using AnswerHandler = std::function<void(const DialogAnswer&)>;

  // Opens the dialog; false when no window could be made.
  static bool Open(const ShowDialogMessage& message, AnswerHandler on_answer);
  // A dialog that goes unanswered answers "no button".
  ~DialogWindow() override;

 private:
  DialogWindow(const ShowDialogMessage& message, AnswerHandler on_answer);
  void Build(const ShowDialogMessage& message);
  bool OnCommand(int id, int code) override;
  void OnTimer(UINT_PTR timer) override;
  // Sends the answer (once) and closes the window.
  void Finish(int32_t button);
  DialogAnswer MakeAnswer(int32_t button) const;
  // |text| broken into lines of at most |width| pixels in |font|.
  std::wstring WrapLines(const std::wstring& text, int width, HFONT font) const;

  const uint32_t id_;
  std::vector<int32_t> values_;
  AnswerHandler on_answer_;
  bool answered_ = false;
  std::vector<HWND> check_boxes_;
};

}  // namespace wardex::console::win
