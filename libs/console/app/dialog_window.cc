#include "dialog_window.h"

#include <cstring>
#include <string>
#include <utility>

#include "page_window.h"

namespace wardex::console {
namespace {

// The dialog's texts wrap at this width, and scroll beyond this height.
constexpr int kTextChars = 52;
constexpr int kMaxTextHeight = 420;

// The icon kinds of a message dialog, as the Console defines them.
const char* IconName(int32_t icon) {
  switch (icon) {
    case 1:
      return "dialog-information";
    case 2:
      return "dialog-question";
    case 3:
      return "dialog-warning";
    case 4:
      return "dialog-error";
    default:
      return nullptr;
  }
}

// A style is a list of words ("bold italic large"); the words a label can
// show become text attributes, the others are ignored. Colours and fonts
// stay the desktop theme's.
PangoAttrList* StyleAttributes(const std::string& style, bool bold_by_default) {
  PangoAttrList* list = pango_attr_list_new();
  bool bold = bold_by_default;
  gchar** words = g_strsplit_set(style.c_str(), " ,;", -1);
  for (gchar** word = words; *word != nullptr; ++word) {
    if (g_ascii_strcasecmp(*word, "bold") == 0) bold = true;
    if (g_ascii_strcasecmp(*word, "normal") == 0) bold = false;
    if (g_ascii_strcasecmp(*word, "italic") == 0)
      pango_attr_list_insert(list, pango_attr_style_new(PANGO_STYLE_ITALIC));
    if (g_ascii_strcasecmp(*word, "underline") == 0)
      pango_attr_list_insert(list, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
    if (g_ascii_strcasecmp(*word, "large") == 0)
      pango_attr_list_insert(list, pango_attr_scale_new(1.2));
    if (g_ascii_strcasecmp(*word, "small") == 0)
      pango_attr_list_insert(list, pango_attr_scale_new(0.83));
  }
  g_strfreev(words);
  if (bold) pango_attr_list_insert(list, pango_attr_weight_new(PANGO_WEIGHT_BOLD));
  return list;
}

// A label showing |text| as plain text in |style|: markup in it is never interpreted.
GtkWidget* TextLabel(const std::string& text, const std::string& style, bool bold_by_default) {
  GtkWidget* label = PlainLabel(text, kTextChars);
  PangoAttrList* attributes = StyleAttributes(style, bold_by_default);
  gtk_label_set_attributes(GTK_LABEL(label), attributes);
  pango_attr_list_unref(attributes);
  return label;
}

}  // namespace

DialogWindow* DialogWindow::Open(GtkApplication* application, const ShowDialogMessage& message,
                                 AnswerHandler on_answer) {
  auto* dialog = new DialogWindow(message, std::move(on_answer));
  dialog->Build(application, message);
  gtk_window_present(dialog->window_);
  return dialog;
}

DialogWindow::DialogWindow(const ShowDialogMessage& message, AnswerHandler on_answer)
    : id_(message.id), on_answer_(std::move(on_answer)) {
  for (const DialogButton& button : message.buttons) values_.push_back(button.value);
}

DialogWindow::~DialogWindow() {
  if (show_timer_ != 0) g_source_remove(show_timer_);
}

void DialogWindow::Build(GtkApplication* application, const ShowDialogMessage& message) {
  window_ = GTK_WINDOW(gtk_window_new());
  if (application != nullptr) gtk_window_set_application(window_, application);
  gtk_window_set_title(window_, message.header.c_str());
  gtk_window_set_resizable(window_, FALSE);
  // The window owns this object: it goes when the window is destroyed.
  g_signal_connect_swapped(window_, "destroy", G_CALLBACK(+[](DialogWindow* self) { delete self; }),
                           this);
  g_signal_connect(window_, "close-request", G_CALLBACK(OnCloseRequest), this);

  // Escape runs "dialog.cancel", an action that tests and assistive tools can reach too.
  GSimpleActionGroup* actions = g_simple_action_group_new();
  GSimpleAction* cancel = g_simple_action_new("cancel", nullptr);
  g_signal_connect_swapped(cancel, "activate",
                           G_CALLBACK(+[](DialogWindow* self) { self->Finish(-1); }), this);
  g_action_map_add_action(G_ACTION_MAP(actions), G_ACTION(cancel));
  g_object_unref(cancel);
  gtk_widget_insert_action_group(GTK_WIDGET(window_), "dialog", G_ACTION_GROUP(actions));
  g_object_unref(actions);
  GtkEventController* shortcuts = gtk_shortcut_controller_new();
  gtk_shortcut_controller_add_shortcut(
      GTK_SHORTCUT_CONTROLLER(shortcuts),
      gtk_shortcut_new(gtk_keyval_trigger_new(GDK_KEY_Escape, GdkModifierType(0)),
                       gtk_named_action_new("dialog.cancel")));
  gtk_widget_add_controller(GTK_WIDGET(window_), shortcuts);

  GtkWidget* content = WindowContent(window_);
  GtkWidget* body = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
  gtk_box_append(GTK_BOX(content), body);
  if (const char* icon = IconName(message.icon)) {
    GtkWidget* image = gtk_image_new_from_icon_name(icon);
    gtk_image_set_icon_size(GTK_IMAGE(image), GTK_ICON_SIZE_LARGE);
    gtk_widget_set_valign(image, GTK_ALIGN_START);
    gtk_box_append(GTK_BOX(body), image);
  }
  GtkWidget* texts = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
  gtk_widget_set_hexpand(texts, TRUE);
  // A long text scrolls instead of growing the window past the screen.
  gtk_box_append(GTK_BOX(body), ScrollingUpTo(kMaxTextHeight, texts));
  gtk_box_append(GTK_BOX(texts), TextLabel(message.header, message.caption_style, true));
  message_label_ = TextLabel(message.message, message.message_style, false);
  gtk_box_append(GTK_BOX(texts), message_label_);
  for (const DialogCheckBox& box : message.check_boxes) {
    GtkWidget* check = CheckBox(box.title, box.checked);
    gtk_box_append(GTK_BOX(texts), check);
    check_boxes_.push_back(check);
  }

  GtkWidget* row = ButtonRow(content);
  for (const DialogButton& described : message.buttons) {
    GtkWidget* button = AddButton(row, described.title);
    g_signal_connect(button, "clicked", G_CALLBACK(OnButtonClicked), this);
    buttons_.push_back(button);
  }
  if (!buttons_.empty()) MakeDefaultButton(window_, buttons_.front());
  if (message.show_time_ms != 0)
    show_timer_ = g_timeout_add(message.show_time_ms, OnShowTimeOver, this);
}

void DialogWindow::Finish(int32_t button) {
  if (answered_) return;
  answered_ = true;
  DialogAnswer answer;
  answer.id = id_;
  answer.button = button;
  for (GtkWidget* check : check_boxes_)
    answer.checked.push_back(gtk_check_button_get_active(GTK_CHECK_BUTTON(check)) ? 1 : 0);
  on_answer_(answer);
  gtk_window_destroy(window_);  // deletes this
}

void DialogWindow::OnButtonClicked(GtkButton* button, gpointer self) {
  auto* dialog = static_cast<DialogWindow*>(self);
  for (size_t i = 0; i < dialog->buttons_.size(); ++i) {
    if (dialog->buttons_[i] == GTK_WIDGET(button)) {
      dialog->Finish(dialog->values_[i]);
      return;
    }
  }
}

gboolean DialogWindow::OnCloseRequest(GtkWindow*, gpointer self) {
  static_cast<DialogWindow*>(self)->Finish(-1);
  return TRUE;
}

gboolean DialogWindow::OnShowTimeOver(gpointer self) {
  auto* dialog = static_cast<DialogWindow*>(self);
  dialog->show_timer_ = 0;
  dialog->Finish(-1);
  return G_SOURCE_REMOVE;
}

}  // namespace wardex::console
