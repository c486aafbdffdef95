#include "settings_window.h"

#include <algorithm>
#include <utility>

namespace wardex::console {
namespace {

// Language names whose labels are cut: a drop-down is as wide as its widest item.
constexpr int kLanguageNameChars = 32;

GtkListItemFactory* EllipsizingFactory() {
  GtkListItemFactory* factory = gtk_signal_list_item_factory_new();
  g_signal_connect(factory, "setup", G_CALLBACK(+[](GtkListItemFactory*, GtkListItem* item) {
                     GtkWidget* label = gtk_label_new(nullptr);
                     gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
                     gtk_label_set_max_width_chars(GTK_LABEL(label), kLanguageNameChars);
                     gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
                     gtk_list_item_set_child(item, label);
                   }),
                   nullptr);
  g_signal_connect(factory, "bind", G_CALLBACK(+[](GtkListItemFactory*, GtkListItem* item) {
                     gtk_label_set_text(GTK_LABEL(gtk_list_item_get_child(item)),
                                        gtk_string_object_get_string(
                                            GTK_STRING_OBJECT(gtk_list_item_get_item(item))));
                   }),
                   nullptr);
  return factory;
}

}  // namespace

SettingsWindow* SettingsWindow::Open(GtkApplication* application, const ConsoleTexts& texts,
                                     const ShowSettingsMessage& settings, SaveHandler on_save) {
  auto* self = new SettingsWindow(std::move(on_save));
  self->Build(application, texts, settings);
  gtk_window_present(self->window_);
  return self;
}

void SettingsWindow::Build(GtkApplication* application, const ConsoleTexts& texts,
                           const ShowSettingsMessage& settings) {
  GtkWidget* content =
      NewPageWindow(application, texts, "CONSOLE_SETTINGS_TITLE", "Settings", &window_);
  g_signal_connect_swapped(window_, "destroy",
                           G_CALLBACK(+[](SettingsWindow* self) { delete self; }), this);

  // The language in use is offered even when its file has gone.
  std::vector<const char*> names;
  for (const LanguageEntry& language : settings.languages) {
    languages_.push_back(language.code);
    names.push_back(language.name.c_str());
  }
  if (std::find(languages_.begin(), languages_.end(), settings.language) == languages_.end()) {
    languages_.insert(languages_.begin(), settings.language);
    names.insert(names.begin(), settings.language.c_str());
  }
  names.push_back(nullptr);
  GtkWidget* line = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
  GtkWidget* label = PlainLabel(texts.Get("CONSOLE_SETTINGS_LANGUAGE", "Language"));
  gtk_box_append(GTK_BOX(line), label);
  language_ = GTK_DROP_DOWN(gtk_drop_down_new_from_strings(names.data()));
  GtkListItemFactory* factory = EllipsizingFactory();
  gtk_drop_down_set_factory(language_, factory);
  g_object_unref(factory);
  const auto current = std::find(languages_.begin(), languages_.end(), settings.language);
  gtk_drop_down_set_selected(language_, static_cast<guint>(current - languages_.begin()));
  gtk_box_append(GTK_BOX(line), GTK_WIDGET(language_));
  gtk_box_append(GTK_BOX(content), line);

  start_at_logon_ = GTK_CHECK_BUTTON(
      CheckBox(texts.Get("CONSOLE_SETTINGS_LOGON", "Start at logon"), settings.start_at_logon));
  gtk_box_append(GTK_BOX(content), GTK_WIDGET(start_at_logon_));
  news_ = GTK_CHECK_BUTTON(
      CheckBox(texts.Get("CONSOLE_SETTINGS_NEWS", "Show the daily news"), settings.news));
  gtk_box_append(GTK_BOX(content), GTK_WIDGET(news_));
  const std::string note = texts.Get("CONSOLE_SETTINGS_NOTE", "");
  if (!note.empty()) {
    GtkWidget* label = PlainLabel(note, kParagraphChars);
    gtk_widget_add_css_class(label, "dim-label");
    gtk_box_append(GTK_BOX(content), label);
  }

  GtkWidget* row = ButtonRow(content);
  GtkWidget* cancel = AddButton(row, texts.Get("CONSOLE_BUTTON_CANCEL", "Cancel"));
  gtk_actionable_set_action_name(GTK_ACTIONABLE(cancel), "page.close");
  save_ = AddButton(row, texts.Get("CONSOLE_BUTTON_SAVE", "Save"));
  g_signal_connect(save_, "clicked", G_CALLBACK(OnSave), this);
  MakeDefaultButton(window_, save_);
}

void SettingsWindow::OnSave(GtkButton*, gpointer self) {
  auto* settings = static_cast<SettingsWindow*>(self);
  SettingsChosen chosen;
  const guint selected = gtk_drop_down_get_selected(settings->language_);
  if (selected < settings->languages_.size()) chosen.language = settings->languages_[selected];
  chosen.start_at_logon = gtk_check_button_get_active(settings->start_at_logon_);
  chosen.news = gtk_check_button_get_active(settings->news_);
  settings->on_save_(chosen);
  gtk_window_destroy(settings->window_);  // deletes the object
}

}  // namespace wardex::console
