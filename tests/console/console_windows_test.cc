// The Console's windows on a private X display: what the message dialog and
// the information, settings and module-view windows show, and what each way
// of using or closing them answers, driven through GTK's own API.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/dialog_window.h"
#include "app/info_window.h"
#include "app/settings_window.h"
#include "app/view_window.h"
#include "console/window_contents.h"
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

// The texts of every label below |widget|, in widget order.
void CollectLabels(GtkWidget* widget, std::vector<std::string>* texts) {
  if (GTK_IS_LABEL(widget)) texts->push_back(gtk_label_get_text(GTK_LABEL(widget)));
  for (GtkWidget* child = gtk_widget_get_first_child(widget); child != nullptr;
       child = gtk_widget_get_next_sibling(child))
    CollectLabels(child, texts);
}
std::vector<std::string> Labels(GtkWindow* window) {
  std::vector<std::string> texts;
  CollectLabels(GTK_WIDGET(window), &texts);
  return texts;
}
bool Shows(GtkWindow* window, const std::string& text) {
  for (const std::string& label : Labels(window))
    if (label == text) return true;
  return false;
}

void RunPending() {
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
}

// Runs the main loop until |done| or 10 s passed.
template <class Done>
bool RunUntil(Done done) {
  const gint64 end = g_get_monotonic_time() + 10 * G_USEC_PER_SEC;
  while (!done() && g_get_monotonic_time() < end) g_main_context_iteration(nullptr, FALSE);
  return done();
}

// Notes when a window is destroyed.
class DestroyWatch {
 public:
  explicit DestroyWatch(GtkWindow* window) {
    g_signal_connect_swapped(window, "destroy", G_CALLBACK(+[](bool* flag) { *flag = true; }),
                             &destroyed_);
  }
  bool ClosedSoon() {
    return RunUntil([this] { return destroyed_; });
  }

 private:
  bool destroyed_ = false;
};

ConsoleTexts GermanTexts() {
  ConsoleTexts texts;
  texts.Set(SetTexts{"Brisko", {{"CONSOLE_INFO_TITLE", "Informationen"}, {"CONSOLE_MENU", ""}}});
  return texts;
}

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
    // What it shows: markup as text, the first button the default.
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
    ASSERT_TRUE(RunUntil([&] { return answer.has_value(); })) << c.name;
    EXPECT_EQ(answer->id, 9u) << c.name;
    EXPECT_EQ(answer->button, c.button) << c.name;
    EXPECT_EQ(answer->checked, c.checked) << c.name;
    RunPending();  // a later event must not answer again
    EXPECT_EQ(calls, 1) << c.name;
  }
}

TEST(InfoWindowTest, ShowsTheFactsAsTextInTheAgentsLanguageAndEscapeCloses) {
  const ConsoleTexts texts = GermanTexts();
  const ShowInfoMessage info{
      "Corvane <i>Brisko</i>",
      "bk_free",
      "1.0.0",
      "5a63d8",
      "/home/u/wardex.log",
      {{"ConsoleModule.so", "Corvane Software GmbH"}, {"TurboModule.so", "Orbiware"}},
      {"Wardex Version 1.0.0", "Copyright (C) 2026 Corvane"}};
  GtkWindow* window = OpenInfoWindow(nullptr, texts, info);
  EXPECT_STREQ(gtk_window_get_title(window), "Brisko - Informationen");
  for (const char* text :
       {"Corvane <i>Brisko</i>", "bk_free", "1.0.0", "5a63d8", "/home/u/wardex.log",
        "ConsoleModule.so (Corvane Software GmbH)\nTurboModule.so (Orbiware)",
        "Copyright (C) 2026 Corvane", "Version", "Close"})
    EXPECT_TRUE(Shows(window, text)) << text;
  // Escape's action.
  DestroyWatch watch(window);
  EXPECT_TRUE(gtk_widget_activate_action(GTK_WIDGET(window), "page.close", nullptr));
  EXPECT_TRUE(watch.ClosedSoon());
}

TEST(SettingsWindowTest, SaveAnswersTheChoicesAndEveryOtherWayAnswersNothing) {
  enum class Way { kSaveAfterChanges, kDefaultWidget, kCancel, kClose };
  const struct {
    const char* name;
    Way way;
    std::optional<SettingsChosen> answer;
  } cases[] = {
      {"save after changes", Way::kSaveAfterChanges, SettingsChosen{"de", true, false}},
      {"Enter saves unchanged", Way::kDefaultWidget, SettingsChosen{"fr", false, true}},
      {"Cancel and Escape", Way::kCancel, std::nullopt},
      {"window closed", Way::kClose, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int calls = 0;
    std::optional<SettingsChosen> answer;
    // The language in use has no file any more: it is offered first.
    SettingsWindow* settings = SettingsWindow::Open(
        nullptr, ConsoleTexts(),
        ShowSettingsMessage{"fr", {{"en_II", "English"}, {"de", "Deutsch"}}, false, true},
        [&](const SettingsChosen& chosen) {
          ++calls;
          answer = chosen;
        });
    GtkWindow* window = settings->window();
    EXPECT_EQ(gtk_drop_down_get_selected(settings->language()), 0u);
    DestroyWatch watch(window);
    switch (c.way) {
      case Way::kSaveAfterChanges:
        gtk_drop_down_set_selected(settings->language(), 2);
        // A person reads the language's name; the answer carries its code.
        EXPECT_STREQ(gtk_string_object_get_string(
                         GTK_STRING_OBJECT(gtk_drop_down_get_selected_item(settings->language()))),
                     "Deutsch");
        gtk_check_button_set_active(settings->start_at_logon(), TRUE);
        gtk_check_button_set_active(settings->news(), FALSE);
        gtk_widget_activate(settings->save());
        break;
      case Way::kDefaultWidget:
        gtk_widget_activate_default(GTK_WIDGET(window));
        break;
      case Way::kCancel:
        gtk_check_button_set_active(settings->news(), FALSE);
        EXPECT_TRUE(gtk_widget_activate_action(GTK_WIDGET(window), "page.close", nullptr));
        break;
      case Way::kClose:
        gtk_window_close(window);
        break;
    }
    EXPECT_TRUE(watch.ClosedSoon());
    RunPending();
    EXPECT_EQ(calls, c.answer ? 1 : 0);
    if (c.answer && answer) {
      EXPECT_EQ(EncodeFrame(*answer), EncodeFrame(*c.answer));
    }
  }
}

TEST(ViewWindowTest, ShowsTheDescriptionAndButtonsAndMenuAnswerWithTheirIds) {
  std::vector<ViewButtonPressed> pressed;
  std::vector<uint32_t> commands;
  ShowViewMessage view{7,
                       "Temporary <b>files</b>",
                       {{"Files", "3425", -1}, {"Checked", "Every entry", 100}},
                       {{1, "Check again", true}, {2, "Clean", false}},
                       {{0x8010, "Start Brisko", true}, {0x8016, "Info", true}}};
  ViewWindow* shown = ViewWindow::Open(
      nullptr, ConsoleTexts(), view, [&](const ViewButtonPressed& p) { pressed.push_back(p); },
      [&](uint32_t command) { commands.push_back(command); });
  GtkWindow* window = shown->window();
  EXPECT_STREQ(gtk_window_get_title(window), "Quick check");
  EXPECT_TRUE(Shows(window, "Temporary <b>files</b>"));
  ASSERT_EQ(shown->values().size(), 2u);
  EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(shown->values()[0])), "3425");
  ASSERT_EQ(shown->buttons().size(), 2u);
  EXPECT_FALSE(gtk_widget_get_sensitive(shown->buttons()[1]));
  EXPECT_TRUE(gtk_widget_get_visible(shown->menu_button()));

  // Enter (the default widget) presses the first button; a menu entry
  // reaches the handler with its command.
  gtk_widget_activate_default(GTK_WIDGET(window));
  EXPECT_TRUE(gtk_widget_activate_action(GTK_WIDGET(window), "view.command", "u", 0x8016u));
  // A mapped button shows itself pressed for a moment before it clicks.
  RunUntil([&] { return !pressed.empty(); });
  ASSERT_EQ(pressed.size(), 1u);
  EXPECT_EQ(pressed[0].view_id, 7u);
  EXPECT_EQ(pressed[0].button_id, 1);
  EXPECT_EQ(commands, std::vector<uint32_t>{0x8016});

  // A new description replaces the content in place; no menu hides the button.
  view.rows = {{"Status", "Not checked yet", -1}};
  view.menu.clear();
  shown->Update(view);
  ASSERT_EQ(shown->values().size(), 1u);
  EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(shown->values()[0])), "Not checked yet");
  EXPECT_FALSE(Shows(window, "3425"));
  EXPECT_FALSE(gtk_widget_get_visible(shown->menu_button()));

  DestroyWatch watch(window);
  EXPECT_TRUE(gtk_widget_activate_action(GTK_WIDGET(window), "page.close", nullptr));
  EXPECT_TRUE(watch.ClosedSoon());
  EXPECT_EQ(pressed.size(), 1u);
}

// Opens the window that shows |message|.
GtkWindow* OpenWindow(const ConsoleMessage& message) {
  if (const auto* info = std::get_if<ShowInfoMessage>(&message))
    return OpenInfoWindow(nullptr, GermanTexts(), *info);
  if (const auto* settings = std::get_if<ShowSettingsMessage>(&message))
    return SettingsWindow::Open(nullptr, GermanTexts(), *settings, [](const SettingsChosen&) {})
        ->window();
  if (const auto* view = std::get_if<ShowViewMessage>(&message))
    return ViewWindow::Open(
               nullptr, GermanTexts(), *view, [](const ViewButtonPressed&) {}, [](uint32_t) {})
        ->window();
  return DialogWindow::Open(nullptr, std::get<ShowDialogMessage>(message),
                            [](const DialogAnswer&) {})
      ->window();
}

// Every window fits a 1024 x 768 screen (with room for a title bar and a
// panel), is wide enough to read, and is not taller than its content at the
// width it got: GTK measures a window's height for its narrowest width.
TEST(WindowSizeTest, EveryWindowFitsTheScreenAndItsContent) {
  for (const bool largest : {false, true}) {
    for (const ConsoleMessage& content : WindowContents(largest)) {
      SCOPED_TRACE(testing::Message()
                   << "alternative " << content.index() << " largest " << largest);
      GtkWindow* window = OpenWindow(content);
      GtkWidget* widget = GTK_WIDGET(window);
      ASSERT_TRUE(RunUntil([&] { return gtk_widget_get_mapped(widget); }));
      RunPending();
      const int width = gtk_widget_get_width(widget);
      const int height = gtk_widget_get_height(widget);
      int content_height = 0;
      gtk_widget_measure(widget, GTK_ORIENTATION_VERTICAL, width, nullptr, &content_height, nullptr,
                         nullptr);
      EXPECT_LE(width, 1024);
      EXPECT_LE(height, 768 - 80);
      EXPECT_GE(width, 360);
      EXPECT_LE(height, content_height + 24) << width << " x " << height;
      gtk_window_destroy(window);
    }
  }
}

}  // namespace
}  // namespace wardex::console
