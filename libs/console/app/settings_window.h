// The settings window: the language (one of the language files present),
// start at logon and the daily news. Save (the default button) answers with
// the choices and closes; Cancel, Escape and closing the window answer
// nothing. The object lives as long as its window.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <string>
#include <vector>

#include "page_window.h"

namespace wardex::console {

class SettingsWindow {
 public:
  using SaveHandler = std::function<void(const SettingsChosen&)>;

  static SettingsWindow* Open(GtkApplication* application, const ConsoleTexts& texts,
                              const ShowSettingsMessage& settings, SaveHandler on_save);

  GtkWindow* window() const { return window_; }
  GtkDropDown* language() const { return language_; }
  GtkCheckButton* start_at_logon() const { return start_at_logon_; }
  GtkCheckButton* news() const { return news_; }
  GtkWidget* save() const { return save_; }

 private:
  explicit SettingsWindow(SaveHandler on_save) : on_save_(std::move(on_save)) {}
  void Build(GtkApplication* application, const ConsoleTexts& texts,
             const ShowSettingsMessage& settings);
  static void OnSave(GtkButton*, gpointer self);

  SaveHandler on_save_;
  std::vector<std::string> languages_;
  GtkWindow* window_ = nullptr;
  GtkDropDown* language_ = nullptr;
  GtkCheckButton* start_at_logon_ = nullptr;
  GtkCheckButton* news_ = nullptr;
  GtkWidget* save_ = nullptr;
};

}  // namespace wardex::console
