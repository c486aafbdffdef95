#include "info_window.h"

namespace wardex::console {
namespace {

void AddFact(GtkGrid* grid, int row, const std::string& name, const std::string& value) {
  gtk_label_set_selectable(GTK_LABEL(AttachFact(grid, row, name, value)), TRUE);
}

}  // namespace

GtkWindow* OpenInfoWindow(GtkApplication* application, const ConsoleTexts& texts,
                          const ShowInfoMessage& info) {
  GtkWindow* window = nullptr;
  GtkWidget* content =
      NewPageWindow(application, texts, "CONSOLE_INFO_TITLE", "Information", &window);
  GtkGrid* grid = AppendFactGrid(content, info.product_name, "title-2", true);
  int row = 0;
  AddFact(grid, row++, texts.Get("CONSOLE_INFO_EDITION", "Edition"), info.edition);
  AddFact(grid, row++, texts.Get("CONSOLE_INFO_VERSION", "Version"), info.version);
  AddFact(grid, row++, texts.Get("CONSOLE_INFO_COMPUTER", "Computer identifier"), info.computer_id);
  AddFact(grid, row++, texts.Get("CONSOLE_INFO_LOG", "Log file"), info.log_file);
  std::string modules;
  for (const ModuleEntry& module : info.modules) {
    if (!modules.empty()) modules += '\n';
    modules += module.name + " (" + module.signer + ")";
  }
  AddFact(grid, row++, texts.Get("CONSOLE_INFO_MODULES", "Modules"), modules);

  // Below the facts, in their scroller: the About texts may be many.
  for (const std::string& about : info.about) {
    GtkWidget* line = PlainLabel(about, kParagraphChars);
    gtk_widget_add_css_class(line, "dim-label");
    gtk_widget_set_margin_top(line, 6);
    gtk_grid_attach(grid, line, 0, row++, 2, 1);
  }

  GtkWidget* close = AddButton(ButtonRow(content), texts.Get("CONSOLE_BUTTON_CLOSE", "Close"));
  gtk_actionable_set_action_name(GTK_ACTIONABLE(close), "page.close");
  gtk_window_set_default_widget(window, close);
  gtk_window_set_focus(window, close);
  gtk_window_present(window);
  return window;
}

}  // namespace wardex::console
