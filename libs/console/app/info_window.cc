#include "info_window.h"

namespace wardex::console {
namespace {

void AddFact(GtkGrid* grid, int row, const std::string& name, const std::string& value) {
  GtkWidget* name_label = PlainLabel(name);
  gtk_widget_add_css_class(name_label, "dim-label");
  gtk_widget_set_valign(name_label, GTK_ALIGN_START);
  gtk_grid_attach(grid, name_label, 0, row, 1, 1);
  GtkWidget* value_label = PlainLabel(value);
  gtk_label_set_selectable(GTK_LABEL(value_label), TRUE);
  gtk_widget_set_hexpand(value_label, TRUE);
  gtk_grid_attach(grid, value_label, 1, row, 1, 1);
}

}  // namespace

GtkWindow* OpenInfoWindow(GtkApplication* application, const ConsoleTexts& texts,
                          const ShowInfoMessage& info) {
  GtkWindow* window = nullptr;
  GtkWidget* content =
      NewPageWindow(application, texts, "CONSOLE_INFO_TITLE", "Information", &window);
  GtkWidget* heading = PlainLabel(info.product_name);
  gtk_widget_add_css_class(heading, "title-2");
  gtk_box_append(GTK_BOX(content), heading);

  GtkWidget* grid = gtk_grid_new();
  gtk_grid_set_row_spacing(GTK_GRID(grid), 6);
  gtk_grid_set_column_spacing(GTK_GRID(grid), 12);
  gtk_box_append(GTK_BOX(content), grid);
  int row = 0;
  AddFact(GTK_GRID(grid), row++, texts.Get("CONSOLE_INFO_EDITION", "Edition"), info.edition);
  AddFact(GTK_GRID(grid), row++, texts.Get("CONSOLE_INFO_VERSION", "Version"), info.version);
  AddFact(GTK_GRID(grid), row++, texts.Get("CONSOLE_INFO_COMPUTER", "Computer identifier"),
          info.computer_id);
  AddFact(GTK_GRID(grid), row++, texts.Get("CONSOLE_INFO_LOG", "Log file"), info.log_file);
  std::string modules;
  for (const ModuleEntry& module : info.modules) {
    if (!modules.empty()) modules += '\n';
    modules += module.name + " (" + module.signer + ")";
  }
  AddFact(GTK_GRID(grid), row++, texts.Get("CONSOLE_INFO_MODULES", "Modules"), modules);

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
