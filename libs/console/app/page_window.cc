#include "page_window.h"

namespace wardex::console {
namespace {

constexpr char kTitleKey[] = "wardex-title-key";
// The wrapping width of a fact's value: long paths and lists stay readable
// while the window keeps to a dialog's width.
constexpr int kValueChars = 44;
constexpr int kNameChars = 18;
constexpr int kCheckBoxChars = 48;
// A button's title is cut here (the whole title is its tooltip), and a row
// holds this many buttons: a dialog with many stays within the screen.
constexpr int kButtonTitleChars = 24;
constexpr int kButtonsPerRow = 4;
// Longer fact lists scroll.
constexpr int kMaxFactsHeight = 360;
constexpr char kTitleFallback[] = "wardex-title-fallback";

void ApplyTitle(GtkWindow* window, const ConsoleTexts& texts) {
  const auto* key = static_cast<const char*>(g_object_get_data(G_OBJECT(window), kTitleKey));
  if (key == nullptr) return;
  const auto* fallback =
      static_cast<const char*>(g_object_get_data(G_OBJECT(window), kTitleFallback));
  gtk_window_set_title(window, texts.Title(key, fallback).c_str());
}

}  // namespace

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

  return WindowContent(*window);
}

GtkWidget* WindowContent(GtkWindow* window) {
  GtkWidget* content = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
  gtk_widget_set_margin_top(content, 18);
  gtk_widget_set_margin_bottom(content, 18);
  gtk_widget_set_margin_start(content, 18);
  gtk_widget_set_margin_end(content, 18);
  gtk_window_set_child(window, content);
  return content;
}

void RetitlePageWindows(GtkApplication* application, const ConsoleTexts& texts) {
  for (GList* item = gtk_application_get_windows(application); item != nullptr; item = item->next)
    ApplyTitle(GTK_WINDOW(item->data), texts);
}

GtkWidget* PlainLabel(const std::string& text, int wrap_chars) {
  GtkWidget* label = gtk_label_new(nullptr);
  gtk_label_set_text(GTK_LABEL(label), text.c_str());
  gtk_label_set_use_markup(GTK_LABEL(label), FALSE);
  gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
  if (wrap_chars > 0) {
    gtk_label_set_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_wrap_mode(GTK_LABEL(label), PANGO_WRAP_WORD_CHAR);
    // As wide as it may grow: GTK measures a window's height for its
    // narrowest width, which would leave the rest of the window empty.
    gtk_label_set_width_chars(GTK_LABEL(label), wrap_chars);
    gtk_label_set_max_width_chars(GTK_LABEL(label), wrap_chars);
  }
  return label;
}

GtkGrid* AppendFactGrid(GtkWidget* box, const std::string& heading, const char* css_class,
                        bool with_icon) {
  GtkWidget* header = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
  // The application's icon, where the desktop's theme has it.
  const char* icon_name = gtk_window_get_default_icon_name();
  if (with_icon && icon_name != nullptr &&
      gtk_icon_theme_has_icon(gtk_icon_theme_get_for_display(gdk_display_get_default()),
                              icon_name)) {
    GtkWidget* icon = gtk_image_new_from_icon_name(icon_name);
    gtk_image_set_pixel_size(GTK_IMAGE(icon), 48);
    gtk_box_append(GTK_BOX(header), icon);
  }
  GtkWidget* title = PlainLabel(heading);
  gtk_label_set_ellipsize(GTK_LABEL(title), PANGO_ELLIPSIZE_END);
  gtk_label_set_max_width_chars(GTK_LABEL(title), kParagraphChars);
  gtk_widget_add_css_class(title, css_class);
  gtk_box_append(GTK_BOX(header), title);
  gtk_box_append(GTK_BOX(box), header);
  GtkWidget* grid = gtk_grid_new();
  gtk_grid_set_row_spacing(GTK_GRID(grid), 6);
  gtk_grid_set_column_spacing(GTK_GRID(grid), 12);
  gtk_box_append(GTK_BOX(box), ScrollingUpTo(kMaxFactsHeight, grid));
  return GTK_GRID(grid);
}

GtkWidget* AttachFact(GtkGrid* grid, int row, const std::string& name, const std::string& value) {
  GtkWidget* name_label = PlainLabel(name, kNameChars);
  gtk_widget_add_css_class(name_label, "dim-label");
  gtk_widget_set_valign(name_label, GTK_ALIGN_START);
  gtk_grid_attach(grid, name_label, 0, row, 1, 1);
  GtkWidget* value_label = PlainLabel(value, kValueChars);
  gtk_widget_set_hexpand(value_label, TRUE);
  gtk_grid_attach(grid, value_label, 1, row, 1, 1);
  return value_label;
}

GtkWidget* CheckBox(const std::string& title, bool active) {
  GtkWidget* check = gtk_check_button_new();
  gtk_check_button_set_child(GTK_CHECK_BUTTON(check), PlainLabel(title, kCheckBoxChars));
  gtk_check_button_set_active(GTK_CHECK_BUTTON(check), active);
  return check;
}

void MakeDefaultButton(GtkWindow* window, GtkWidget* button) {
  gtk_widget_add_css_class(button, "suggested-action");
  gtk_window_set_default_widget(window, button);
  gtk_window_set_focus(window, button);
}

GtkWidget* ButtonRow(GtkWidget* content) {
  GtkWidget* row = gtk_grid_new();
  gtk_grid_set_row_spacing(GTK_GRID(row), 6);
  gtk_grid_set_column_spacing(GTK_GRID(row), 6);
  gtk_widget_set_halign(row, GTK_ALIGN_END);
  gtk_box_append(GTK_BOX(content), row);
  return row;
}

GtkWidget* AddButton(GtkWidget* row, const std::string& title) {
  int count = 0;
  for (GtkWidget* child = gtk_widget_get_first_child(row); child != nullptr;
       child = gtk_widget_get_next_sibling(child))
    ++count;
  GtkWidget* button = gtk_button_new_with_label(title.c_str());
  GtkWidget* label = gtk_button_get_child(GTK_BUTTON(button));
  gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
  gtk_label_set_max_width_chars(GTK_LABEL(label), kButtonTitleChars);
  if (g_utf8_strlen(title.c_str(), -1) > kButtonTitleChars)
    gtk_widget_set_tooltip_text(button, title.c_str());
  gtk_grid_attach(GTK_GRID(row), button, count % kButtonsPerRow, count / kButtonsPerRow, 1, 1);
  return button;
}

GtkWidget* ScrollingUpTo(int max_height, GtkWidget* child) {
  GtkWidget* scroller = gtk_scrolled_window_new();
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_NEVER,
                                 GTK_POLICY_AUTOMATIC);
  gtk_scrolled_window_set_propagate_natural_width(GTK_SCROLLED_WINDOW(scroller), TRUE);
  gtk_scrolled_window_set_propagate_natural_height(GTK_SCROLLED_WINDOW(scroller), TRUE);
  gtk_scrolled_window_set_max_content_height(GTK_SCROLLED_WINDOW(scroller), max_height);
  gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scroller), child);
  // Tab goes from a window's default button to the next control, not to a
  // scroller that has nothing to scroll; focused children still scroll it.
  gtk_widget_set_focusable(scroller, FALSE);
  return scroller;
}

}  // namespace wardex::console
