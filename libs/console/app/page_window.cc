#include "page_window.h"

namespace wardex::console {
namespace {

constexpr char kTitleKey[] = "wardex-title-key";
constexpr char kTitleFallback[] = "wardex-title-fallback";

void ApplyTitle(GtkWindow* window, const ConsoleTexts& texts) {
  const auto* key = static_cast<const char*>(g_object_get_data(G_OBJECT(window), kTitleKey));
  if (key == nullptr) return;
  const auto* fallback =
      static_cast<const char*>(g_object_get_data(G_OBJECT(window), kTitleFallback));
  std::string title = texts.Get(key, fallback);
  if (!texts.product_name().empty()) title = texts.product_name() + " - " + title;
  gtk_window_set_title(window, title.c_str());
}

}  // namespace

void ConsoleTexts::Set(const SetTexts& texts) {
  product_name_ = texts.product_name;
  texts_.clear();
  for (const TextEntry& entry : texts.texts) texts_[entry.key] = entry.value;
}

std::string ConsoleTexts::Get(const char* key, const char* fallback) const {
  const auto found = texts_.find(key);
  return found == texts_.end() || found->second.empty() ? std::string(fallback) : found->second;
}

GtkWidget* NewPageWindow(GtkApplication* application, const ConsoleTexts& texts,
                         const char* title_key, const char* title_fallback, GtkWindow** window) {
  *window = GTK_WINDOW(gtk_window_new());
  if (application != nullptr) gtk_window_set_application(*window, application);
  g_object_set_data_full(G_OBJECT(*window), kTitleKey, g_strdup(title_key), g_free);
  g_object_set_data_full(G_OBJECT(*window), kTitleFallback, g_strdup(title_fallback), g_free);
  ApplyTitle(*window, texts);

  GSimpleActionGroup* actions = g_simple_action_group_new();
  GSimpleAction* close = g_simple_action_new("close", nullptr);
  g_signal_connect_swapped(close, "activate", G_CALLBACK(gtk_window_close), *window);
  g_action_map_add_action(G_ACTION_MAP(actions), G_ACTION(close));
  g_object_unref(close);
  gtk_widget_insert_action_group(GTK_WIDGET(*window), "page", G_ACTION_GROUP(actions));
  g_object_unref(actions);
  GtkEventController* shortcuts = gtk_shortcut_controller_new();
  gtk_shortcut_controller_add_shortcut(
      GTK_SHORTCUT_CONTROLLER(shortcuts),
      gtk_shortcut_new(gtk_keyval_trigger_new(GDK_KEY_Escape, GdkModifierType(0)),
                       gtk_named_action_new("page.close")));
  gtk_widget_add_controller(GTK_WIDGET(*window), shortcuts);

  GtkWidget* content = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
  gtk_widget_set_margin_top(content, 18);
  gtk_widget_set_margin_bottom(content, 18);
  gtk_widget_set_margin_start(content, 18);
  gtk_widget_set_margin_end(content, 18);
  gtk_window_set_child(*window, content);
  return content;
}

void RetitlePageWindows(GtkApplication* application, const ConsoleTexts& texts) {
  for (GList* item = gtk_application_get_windows(application); item != nullptr; item = item->next)
    ApplyTitle(GTK_WINDOW(item->data), texts);
}

GtkWidget* PlainLabel(const std::string& text) {
  GtkWidget* label = gtk_label_new(nullptr);
  gtk_label_set_text(GTK_LABEL(label), text.c_str());
  gtk_label_set_use_markup(GTK_LABEL(label), FALSE);
  gtk_label_set_wrap(GTK_LABEL(label), TRUE);
  gtk_label_set_wrap_mode(GTK_LABEL(label), PANGO_WRAP_WORD_CHAR);
  gtk_label_set_max_width_chars(GTK_LABEL(label), 60);
  gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
  return label;
}

GtkGrid* AppendFactGrid(GtkWidget* box, const std::string& heading, const char* css_class) {
  GtkWidget* title = PlainLabel(heading);
  gtk_widget_add_css_class(title, css_class);
  gtk_box_append(GTK_BOX(box), title);
  GtkWidget* grid = gtk_grid_new();
  gtk_grid_set_row_spacing(GTK_GRID(grid), 6);
  gtk_grid_set_column_spacing(GTK_GRID(grid), 12);
  gtk_box_append(GTK_BOX(box), grid);
  return GTK_GRID(grid);
}

GtkWidget* AttachFact(GtkGrid* grid, int row, const std::string& name, const std::string& value) {
  GtkWidget* name_label = PlainLabel(name);
  gtk_widget_add_css_class(name_label, "dim-label");
  gtk_widget_set_valign(name_label, GTK_ALIGN_START);
  gtk_grid_attach(grid, name_label, 0, row, 1, 1);
  GtkWidget* value_label = PlainLabel(value);
  gtk_widget_set_hexpand(value_label, TRUE);
  gtk_grid_attach(grid, value_label, 1, row, 1, 1);
  return value_label;
}

void MakeDefaultButton(GtkWindow* window, GtkWidget* button) {
  gtk_widget_add_css_class(button, "suggested-action");
  gtk_window_set_default_widget(window, button);
  gtk_window_set_focus(window, button);
}

GtkWidget* ButtonRow(GtkWidget* content) {
  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  gtk_widget_set_halign(row, GTK_ALIGN_END);
  gtk_box_append(GTK_BOX(content), row);
  return row;
}

}  // namespace wardex::console
