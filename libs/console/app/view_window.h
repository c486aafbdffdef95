// A module's view (the quick-check view) drawn from its description: the
// title, one line per row (label, value, progress bar), the module's buttons
// and, when the agent sent them, the tray menu's commands behind a menu
// button. A button answers with its id, a menu entry runs the window's
// action "view.command" with its command; Escape closes the window. A
// new description for the same view replaces the content in place. The
// object lives as long as its window.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <vector>

#include "page_window.h"

namespace wardex::console {

class ViewWindow {
 public:
  using ButtonHandler = std::function<void(const ViewButtonPressed&)>;
  using CommandHandler = std::function<void(uint32_t command)>;

  static ViewWindow* Open(GtkApplication* application, const ConsoleTexts& texts,
                          const ShowViewMessage& view, ButtonHandler on_button,
                          CommandHandler on_command);
  void Update(const ShowViewMessage& view);

  uint32_t view_id() const { return view_id_; }
  GtkWindow* window() const { return window_; }
  // The row labels, values and buttons as now shown (tests read them).
  const std::vector<GtkWidget*>& values() const { return values_; }
  const std::vector<GtkWidget*>& buttons() const { return buttons_; }
  GtkWidget* menu_button() const { return menu_button_; }

 private:
  ViewWindow(uint32_t view_id, ButtonHandler on_button, CommandHandler on_command);
  void Build(GtkApplication* application, const ConsoleTexts& texts);

  const uint32_t view_id_;
  ButtonHandler on_button_;
  CommandHandler on_command_;
  GtkWindow* window_ = nullptr;
  // What Update replaces: the facts and the module's buttons.
  GtkWidget* facts_ = nullptr;
  GtkWidget* buttons_frame_ = nullptr;
  std::vector<GtkWidget*> values_;
  std::vector<GtkWidget*> buttons_;
  GtkWidget* menu_button_ = nullptr;
};

}  // namespace wardex::console
