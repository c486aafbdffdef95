#include "view_window.h"

#include <algorithm>
#include <utility>

namespace wardex::console {
namespace {

constexpr char kButtonIdKey[] = "wardex-view-button-id";

}  // namespace

ViewWindow* ViewWindow::Open(GtkApplication* application, const ConsoleTexts& texts,
                             const ShowViewMessage& view, ButtonHandler on_button,
                             CommandHandler on_command) {
  auto* self = new ViewWindow(view.view_id, std::move(on_button), std::move(on_command));
  self->Build(application, texts);
  self->Update(view);
  gtk_window_present(self->window_);
  return self;
}

ViewWindow::ViewWindow(uint32_t view_id, ButtonHandler on_button, CommandHandler on_command)
    : view_id_(view_id), on_button_(std::move(on_button)), on_command_(std::move(on_command)) {}

void ViewWindow::Build(GtkApplication* application, const ConsoleTexts& texts) {
  GtkWidget* content =
      NewPageWindow(application, texts, "CONSOLE_QUICK_CHECK_TITLE", "Quick check", &window_);
  g_signal_connect_swapped(window_, "destroy", G_CALLBACK(+[](ViewWindow* self) { delete self; }),
                           this);

  GSimpleActionGroup* actions = g_simple_action_group_new();
  GSimpleAction* command = g_simple_action_new("command", G_VARIANT_TYPE_UINT32);
  g_signal_connect(command, "activate",
                   G_CALLBACK(+[](GSimpleAction*, GVariant* id, gpointer self) {
                     static_cast<ViewWindow*>(self)->on_command_(g_variant_get_uint32(id));
                   }),
                   this);
  g_action_map_add_action(G_ACTION_MAP(actions), G_ACTION(command));
  g_object_unref(command);
  gtk_widget_insert_action_group(GTK_WIDGET(window_), "view", G_ACTION_GROUP(actions));
  g_object_unref(actions);

  facts_ = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_box_append(GTK_BOX(content), facts_);
  // The tray's commands on the left of the module's buttons, as a dialog's
  // secondary button.
  GtkWidget* bottom = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
  gtk_box_append(GTK_BOX(content), bottom);
  menu_button_ = gtk_menu_button_new();
  gtk_menu_button_set_label(GTK_MENU_BUTTON(menu_button_),
                            texts.Get("CONSOLE_MENU", "Menu").c_str());
  gtk_widget_set_valign(menu_button_, GTK_ALIGN_END);
  gtk_box_append(GTK_BOX(bottom), menu_button_);
  buttons_frame_ = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_widget_set_hexpand(buttons_frame_, TRUE);
  gtk_box_append(GTK_BOX(bottom), buttons_frame_);
}

void ViewWindow::Update(const ShowViewMessage& view) {
  values_.clear();
  buttons_.clear();
  // Let go of the default button before the old buttons go: otherwise the
  // window touches the destroyed button when the next default is set.
  gtk_window_set_default_widget(window_, nullptr);
  for (GtkWidget* frame : {facts_, buttons_frame_}) {
    if (GtkWidget* old = gtk_widget_get_first_child(frame)) gtk_box_remove(GTK_BOX(frame), old);
  }
  GtkWidget* body = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
  gtk_box_append(GTK_BOX(facts_), body);

  GtkGrid* grid = AppendFactGrid(body, view.title, "title-3");
  int line = 0;
  for (const ViewRowData& row : view.rows) {
    values_.push_back(AttachFact(grid, line++, row.label, row.value));
    if (row.progress >= 0) {
      GtkWidget* bar = gtk_progress_bar_new();
      gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(bar), std::min(row.progress, 100) / 100.0);
      gtk_grid_attach(grid, bar, 1, line++, 1, 1);
    }
  }

  GtkWidget* row = ButtonRow(buttons_frame_);
  for (const ViewButtonData& described : view.buttons) {
    GtkWidget* button = AddButton(row, described.title);
    g_object_set_data(G_OBJECT(button), kButtonIdKey, GINT_TO_POINTER(described.id));
    g_signal_connect(button, "clicked", G_CALLBACK(+[](GtkButton* clicked, gpointer self) {
                       auto* view = static_cast<ViewWindow*>(self);
                       const int32_t id =
                           GPOINTER_TO_INT(g_object_get_data(G_OBJECT(clicked), kButtonIdKey));
                       view->on_button_(ViewButtonPressed{view->view_id_, id});
                     }),
                     this);
    gtk_widget_set_sensitive(button, described.enabled);
    buttons_.push_back(button);
  }
  if (!buttons_.empty()) MakeDefaultButton(window_, buttons_.front());

  GMenu* menu = g_menu_new();
  for (const MenuEntry& entry : view.menu) {
    GMenuItem* item = g_menu_item_new(entry.title.c_str(), nullptr);
    g_menu_item_set_action_and_target_value(item, entry.enabled ? "view.command" : "view.none",
                                            g_variant_new_uint32(entry.command));
    g_menu_append_item(menu, item);
    g_object_unref(item);
  }
  gtk_menu_button_set_menu_model(GTK_MENU_BUTTON(menu_button_), G_MENU_MODEL(menu));
  g_object_unref(menu);
  gtk_widget_set_visible(menu_button_, !view.menu.empty());
}

}  // namespace wardex::console
