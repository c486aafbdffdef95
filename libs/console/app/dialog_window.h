// The message dialog: the header as its title, the icon and the message, one
// check box and one button per described one. Pressing a button answers with
// its value; closing the window, Escape or the end of the show time answer
// "no button"; Enter presses the first button, the default. Escape runs the
// window's action "dialog.cancel". The answer
// carries the check boxes as the user left them, and is given exactly once.
// The object lives as long as its window.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <vector>

#include "protocol/console_protocol.h"

namespace wardex::console {

class DialogWindow {
 public:
  using AnswerHandler = std::function<void(const DialogAnswer&)>;

  // Opens the dialog; the window is owned by |application| when it is given.
  static DialogWindow* Open(GtkApplication* application, const ShowDialogMessage& message,
                            AnswerHandler on_answer);

  GtkWindow* window() const { return window_; }
  GtkWidget* message_label() const { return message_label_; }
  const std::vector<GtkWidget*>& buttons() const { return buttons_; }
  const std::vector<GtkWidget*>& check_boxes() const { return check_boxes_; }

 private:
  DialogWindow(const ShowDialogMessage& message, AnswerHandler on_answer);
  ~DialogWindow();

  void Build(GtkApplication* application, const ShowDialogMessage& message);
  // Sends the answer (once) and closes the window.
  void Finish(int32_t button);

  static void OnButtonClicked(GtkButton* button, gpointer self);
  static gboolean OnCloseRequest(GtkWindow* window, gpointer self);
  static gboolean OnShowTimeOver(gpointer self);

  uint32_t id_;
  std::vector<int32_t> values_;
  AnswerHandler on_answer_;
  bool answered_ = false;
  guint show_timer_ = 0;
  GtkWindow* window_ = nullptr;
  GtkWidget* message_label_ = nullptr;
  std::vector<GtkWidget*> buttons_;
  std::vector<GtkWidget*> check_boxes_;
};

}  // namespace wardex::console
