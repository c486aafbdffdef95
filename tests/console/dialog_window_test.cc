// The Console's message dialog on a private X display: what it shows, and the
// answer each way of closing it gives, driven through GTK's own API.
#include "app/dialog_window.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "support/virtual_display.h"

namespace wardex::console {
namespace {

// One display and one GTK for the whole test program.
class GtkEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    display_ = std::make_unique<test::VirtualDisplay>();
    ASSERT_TRUE(display_->ok()) << display_->error();
    display_->ExportToEnvironment();
    setenv("GSK_RENDERER", "cairo", 1);
    setenv("GTK_A11Y", "none", 1);
    // No session bus: the dialog needs none.
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent", 1);
    ASSERT_TRUE(gtk_init_check());
  }
  void TearDown() override { display_.reset(); }

 private:
  std::unique_ptr<test::VirtualDisplay> display_;
};
[[maybe_unused]] auto* const g_gtk = ::testing::AddGlobalTestEnvironment(new GtkEnvironment);

ShowDialogMessage Message(uint32_t show_time_ms = 0) {
  ShowDialogMessage message;
  message.id = 9;
  message.header = "Clean up?";
  message.message = "Remove <b>42</b> files & folders";
  message.icon = 3;
  message.show_time_ms = show_time_ms;
  message.buttons = {{"Remove", 6}, {"Keep", 7}};
  message.check_boxes = {{"Remember", true}, {"Ask again", false}};
  return message;
}

// Runs the main loop until the dialog answered or 30 s passed.
std::optional<DialogAnswer> RunUntilAnswered(std::optional<DialogAnswer>* answer) {
  bool timed_out = false;
  const guint guard = g_timeout_add_seconds(
      30,
      +[](gpointer flag) -> gboolean {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
      },
      &timed_out);
  while (!answer->has_value() && !timed_out) g_main_context_iteration(nullptr, TRUE);
  if (!timed_out) g_source_remove(guard);
  return *answer;
}

TEST(DialogWindowTest, ShowsTheDescribedContentWithMarkupAsText) {
  std::optional<DialogAnswer> answer;
  DialogWindow* dialog =
      DialogWindow::Open(nullptr, Message(), [&](const DialogAnswer& a) { answer = a; });
  EXPECT_STREQ(gtk_window_get_title(dialog->window()), "Clean up?");
  EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(dialog->message_label())),
               "Remove <b>42</b> files & folders");
  ASSERT_EQ(dialog->buttons().size(), 2u);
  EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(dialog->buttons()[1])), "Keep");
  EXPECT_EQ(gtk_window_get_default_widget(dialog->window()), dialog->buttons()[0]);
  ASSERT_EQ(dialog->check_boxes().size(), 2u);
  EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(
                   gtk_check_button_get_child(GTK_CHECK_BUTTON(dialog->check_boxes()[0])))),
               "Remember");
  EXPECT_TRUE(gtk_check_button_get_active(GTK_CHECK_BUTTON(dialog->check_boxes()[0])));
  EXPECT_FALSE(gtk_check_button_get_active(GTK_CHECK_BUTTON(dialog->check_boxes()[1])));
  gtk_window_close(dialog->window());
  EXPECT_TRUE(answer.has_value());
}

TEST(DialogWindowTest, EachWayOfClosingGivesItsAnswerOnce) {
  enum class Way { kSecondButton, kDefaultWidget, kClose, kCancelAction, kShowTime };
  const struct {
    const char* name;
    Way way;
    bool toggle_second_box;
    int32_t button;
    std::vector<uint8_t> checked;
  } cases[] = {
      {"second button", Way::kSecondButton, true, 7, {1, 1}},
      {"default widget (Enter)", Way::kDefaultWidget, false, 6, {1, 0}},
      {"window closed", Way::kClose, true, -1, {1, 1}},
      {"Escape's action", Way::kCancelAction, false, -1, {1, 0}},
      {"show time over", Way::kShowTime, true, -1, {1, 1}},
  };
  for (const auto& c : cases) {
    int calls = 0;
    std::optional<DialogAnswer> answer;
    DialogWindow* dialog = DialogWindow::Open(nullptr, Message(c.way == Way::kShowTime ? 200 : 0),
                                              [&](const DialogAnswer& a) {
                                                ++calls;
                                                answer = a;
                                              });
    if (c.toggle_second_box)
      gtk_check_button_set_active(GTK_CHECK_BUTTON(dialog->check_boxes()[1]), TRUE);
    switch (c.way) {
      case Way::kSecondButton:
        gtk_widget_activate(dialog->buttons()[1]);
        break;
      case Way::kDefaultWidget:
        gtk_widget_activate_default(GTK_WIDGET(dialog->window()));
        break;
      case Way::kClose:
        gtk_window_close(dialog->window());
        break;
      case Way::kCancelAction:
        EXPECT_TRUE(
            gtk_widget_activate_action(GTK_WIDGET(dialog->window()), "dialog.cancel", nullptr));
        break;
      case Way::kShowTime:
        break;
    }
    ASSERT_TRUE(RunUntilAnswered(&answer).has_value()) << c.name;
    EXPECT_EQ(answer->id, 9u) << c.name;
    EXPECT_EQ(answer->button, c.button) << c.name;
    EXPECT_EQ(answer->checked, c.checked) << c.name;
    // Let any later event run: the answer must not come twice.
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    EXPECT_EQ(calls, 1) << c.name;
  }
}

}  // namespace
}  // namespace wardex::console
