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
  GtkGrid* grid = AppendFactGrid(content, info.product_name, "title-2");
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

  for (const std::string& about : info.about) gtk_box_append(GTK_BOX(content), PlainLabel(about));

  GtkWidget* close = gtk_button_new_with_label(texts.Get("CONSOLE_BUTTON_CLOSE", "Close").c_str());
  gtk_actionable_set_action_name(GTK_ACTIONABLE(close), "page.close");
  gtk_box_append(GTK_BOX(ButtonRow(content)), close);
  gtk_window_set_default_widget(window, close);
  gtk_window_set_focus(window, close);
  gtk_window_present(window);
  return window;
}

}  // namespace wardex::console
