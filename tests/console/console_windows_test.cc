// The Console's windows as the user meets them: what the message dialog and
// the information, settings and module-view windows show, what each way of
// using or closing them answers, and that each fits the screen. One body for
// both systems; only the driver (Windows below) is the system's: GTK's own
// API on a private X display, or keys and clicks on Wine's Win32 windows,
// posted to the focused control (Xvfb has no window manager to give a window
// the keyboard), each step waiting for its visible effect.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "console/dialog_answer.h"
#include "protocol/console_protocol.h"
#ifdef _WIN32
#include "console_backend.h"
#include "platform/menu.h"
#include "support/wait.h"
#include "win/window_thread.h"

// After the system headers in the order that window_thread.h includes them.
#include "support/wine_desktop_win.h"
#else
#include "app/dialog_window.h"
#include "app/info_window.h"
#include "app/settings_window.h"
#include "app/view_window.h"
#include "dialog_ledger.h"
#include "support/virtual_display.h"
#endif

namespace wardex::console {
namespace {

using namespace std::chrono_literals;

// What the user does to the front window; |what| is the text of the control,
// or of the list entry, it is done to.
enum class Act { kEnter, kEscape, kCloseBox, kPress, kClick, kToggle, kChoose };
struct Step {
  Act act;
  std::string what = {};
};

// Where a window lies, and (GTK's measure) the height its content needs at
// its width; a Win32 window is sized to its content by its own code.
struct Bounds {
  int left = 0, top = 0, width = 0, height = 0, content_height = 0;
};

// Whether |shown| is |text|, or has it as one of its lines.
bool ShowsText(const std::string& shown, const std::string& text) {
  return shown == text || ("\n" + shown + "\n").find("\n" + text + "\n") != std::string::npos;
}

#ifdef _WIN32

// A Win32 window's size takes in its title bar.
constexpr int kUsableHeight = 768;

std::string Utf8(const wchar_t* text, int length) {
  std::string utf8 =
      KaOSAL::ToUtf8(reinterpret_cast<const char16_t*>(text), static_cast<size_t>(length));
  // A line break is a line break, however the control writes it.
  for (size_t at; (at = utf8.find("\r\n")) != std::string::npos;) utf8.erase(at, 1);
  return utf8;
}

std::string TextOf(HWND window) {
  wchar_t text[4096] = {};
  return Utf8(text, GetWindowTextW(window, text, 4096));
}

// A menu entry as shown: "&&" is an ampersand, a single one marks the key.
std::string AsShown(std::string text) {
  for (size_t at = 0; (at = text.find('&', at)) != std::string::npos; ++at) text.erase(at, 1);
  return text;
}

class Windows {
 public:
  Windows()
      : thread_([this](const ConsoleMessage& event) {
          std::lock_guard<std::mutex> hold(lock_);
          events_.push_back(EncodeFrame(event));
        }) {}

  void SetTexts(const SetTexts& texts) { thread_.SetStartMessage(texts); }
  // Opens the window of |message|, or gives an open view its new description.
  void Show(const ConsoleMessage& message) {
    EXPECT_TRUE(thread_.Send(message));
    FindFront();
  }
  void ShowDialog(MessageDialog dialog) {
    thread_.ShowDialog(std::move(dialog));
    FindFront();
  }
  bool WaitUntil(const std::function<bool()>& done) { return test::WaitFor(done, 10s); }
  void Do(const Step& step) {
    switch (step.act) {
      case Act::kEnter:
        return PostToFocus(VK_RETURN);
      case Act::kEscape:
        return PostToFocus(VK_ESCAPE);
      case Act::kCloseBox:
        PostMessageW(front_, WM_SYSCOMMAND, SC_CLOSE, 0);
        return;
      case Act::kPress:
        MoveFocusTo(Control(step.what));
        return PostToFocus(VK_RETURN);
      case Act::kClick: {
        HWND control = Control(step.what);
        const LRESULT before = SendMessageW(control, BM_GETCHECK, 0, 0);
        test::Click(control, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP);
        if ((GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK) == BS_AUTOCHECKBOX) {
          EXPECT_TRUE(
              WaitUntil([&] { return SendMessageW(control, BM_GETCHECK, 0, 0) != before; }));
        }
        return;
      }
      // A key that a new window drops as the X server activates it, late,
      // is pressed again.
      case Act::kToggle: {
        bool toggled = false;
        for (int attempt = 0; !toggled && attempt < 3; ++attempt) {
          MoveFocusTo(Control(step.what));
          toggled = Press(VK_SPACE);
        }
        EXPECT_TRUE(toggled);
        return;
      }
      case Act::kChoose:
        for (int i = 0; Chosen() != step.what && i < 10; ++i) {
          MoveFocusTo(List());
          Press(VK_DOWN);
        }
        EXPECT_EQ(Chosen(), step.what);
        return;
    }
  }
  // Opens the menu, chooses its entry |index| and returns the entries as shown.
  std::vector<std::string> ChooseFromMenu(int index) {
    Do({Act::kClick, "Menu"});
    HWND menu = nullptr;
    EXPECT_TRUE(WaitUntil([&] { return (menu = FindWindowW(L"#32768", nullptr)) != nullptr; }));
    HMENU entries = reinterpret_cast<HMENU>(SendMessageW(menu, MN_GETHMENU, 0, 0));
    std::vector<std::string> shown;
    for (int i = 0; i < GetMenuItemCount(entries); ++i) {
      wchar_t text[256] = {};
      shown.push_back(
          AsShown(Utf8(text, GetMenuStringW(entries, i, text, 256, platform::MF_BYPOSITION))));
    }
    for (int i = 0; i <= index; ++i) test::PostKeys(menu, {VK_DOWN});
    test::PostKeys(menu, {VK_RETURN});
    return shown;
  }
  std::string Title() { return TextOf(front_); }
  bool Shows(const std::string& text) {
    for (HWND child : Children())
      if (IsWindowVisible(child) && ShowsText(TextOf(child), text)) return true;
    return false;
  }
  bool Enabled(const std::string& text) { return IsWindowEnabled(Control(text)); }
  // The list's chosen entry.
  std::string Chosen() {
    const LRESULT at = SendMessageW(List(), CB_GETCURSEL, 0, 0);
    wchar_t text[256] = {};
    return Utf8(text, static_cast<int>(
                          SendMessageW(List(), CB_GETLBTEXT, at, reinterpret_cast<LPARAM>(text))));
  }
  Bounds FrontBounds() {
    RECT rect = {};
    GetWindowRect(front_, &rect);
    return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
  }
  bool Closed() { return !IsWindow(front_); }
  // What the windows reported, as it goes on the wire (which compares every field).
  std::vector<std::string> Events() {
    std::lock_guard<std::mutex> hold(lock_);
    return events_;
  }

 private:
  GUITHREADINFO Keyboard() {
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(thread_.thread_id(), &info);
    return info;
  }
  HWND Focus() { return Keyboard().hwndFocus; }
  // The window that has the keyboard: the one just opened.
  void FindFront() {
    EXPECT_TRUE(WaitUntil([&] {
      front_ = Focus() != nullptr ? GetAncestor(Focus(), GA_ROOT) : nullptr;
      return front_ != nullptr && IsWindowVisible(front_);
    }));
  }
  std::vector<HWND> Children() {
    std::vector<HWND> children;
    for (HWND child = GetWindow(front_, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT))
      children.push_back(child);
    return children;
  }
  HWND Control(const std::string& text) {
    for (HWND child : Children())
      if (TextOf(child) == text) return child;
    ADD_FAILURE() << "no control shows " << text;
    return nullptr;
  }
  HWND List() { return FindWindowExW(front_, nullptr, L"ComboBox", nullptr); }
  // Posts |key| to the focused control and waits for what it does there: Tab
  // moves the focus, Space ticks a box, Down picks a list's next entry.
  bool Press(WORD key) {
    HWND focus = Focus();
    const auto state = [&]() -> LRESULT {
      if (key == VK_TAB) return reinterpret_cast<LRESULT>(Focus());
      return SendMessageW(focus, key == VK_SPACE ? BM_GETCHECK : CB_GETCURSEL, 0, 0);
    };
    const LRESULT before = state();
    PostToFocus(key);
    return WaitUntil([&] { return state() != before; });
  }
  // Posts |key| to the focused control once the window is active: one the X
  // server has not activated yet drops keys.
  void PostToFocus(WORD key) {
    EXPECT_TRUE(WaitUntil([&] { return Keyboard().hwndActive == front_; }));
    test::PostKeys(Focus(), {key});
  }
  // Tabs on until |control| has the keyboard, as a user of the keyboard does.
  void MoveFocusTo(HWND control) {
    for (int tabs = 0; Focus() != control && tabs < 10; ++tabs) EXPECT_TRUE(Press(VK_TAB));
    EXPECT_EQ(Focus(), control);
  }

  std::mutex lock_;
  std::vector<std::string> events_;
  win::WindowThread thread_;
  HWND front_ = nullptr;
};

#else

// A GTK window's size leaves out the title bar, and a panel takes room too.
constexpr int kUsableHeight = 768 - 80;

// One display and one GTK for the whole test program.
class GtkEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    display_ = std::make_unique<test::VirtualDisplay>();
    ASSERT_TRUE(display_->ok()) << display_->error();
    display_->ExportForGtk();
    ASSERT_TRUE(gtk_init_check());
  }
  void TearDown() override { display_.reset(); }

 private:
  std::unique_ptr<test::VirtualDisplay> display_;
};
[[maybe_unused]] auto* const g_gtk = ::testing::AddGlobalTestEnvironment(new GtkEnvironment);

// The visible widgets below |widget| (itself included) in widget order.
std::vector<GtkWidget*> Widgets(GtkWidget* widget) {
  if (!gtk_widget_get_visible(widget)) return {};
  std::vector<GtkWidget*> widgets = {widget};
  for (GtkWidget* child = gtk_widget_get_first_child(widget); child != nullptr;
       child = gtk_widget_get_next_sibling(child))
    for (GtkWidget* below : Widgets(child)) widgets.push_back(below);
  return widgets;
}

class Windows {
 public:
  // The dialog's identifier in the Console.
  static constexpr uint32_t kDialogId = 9;

  void SetTexts(const SetTexts& texts) { texts_.Set(texts); }
  // Opens the window of |message|, or gives an open view its new description.
  void Show(const ConsoleMessage& message) {
    if (const auto* info = std::get_if<ShowInfoMessage>(&message)) {
      SetFront(OpenInfoWindow(nullptr, texts_, *info));
    } else if (const auto* settings = std::get_if<ShowSettingsMessage>(&message)) {
      SetFront(
          SettingsWindow::Open(nullptr, texts_, *settings, Reporter<SettingsChosen>())->window());
    } else if (const auto& view = std::get<ShowViewMessage>(message); view_ != nullptr) {
      view_->Update(view);
    } else {
      view_ = ViewWindow::Open(
          nullptr, texts_, view, Reporter<ViewButtonPressed>(),
          [this](uint32_t command) { events_.push_back(EncodeFrame(MenuCommandChosen{command})); });
      SetFront(view_->window());
    }
  }
  // Answers |dialog| as the module's side does with what the window answered.
  void ShowDialog(MessageDialog dialog) {
    auto shown = std::make_shared<MessageDialog>(std::move(dialog));
    DialogWindow* window =
        DialogWindow::Open(nullptr, ToMessage(kDialogId, *shown), [shown](const DialogAnswer& a) {
          EXPECT_EQ(a.id, kDialogId);
          CompleteWithAnswer(a.id, *shown, a.button, &a.checked);
        });
    SetFront(window->window());
  }
  bool WaitUntil(const std::function<bool()>& done) {
    const gint64 end = g_get_monotonic_time() + 10 * G_USEC_PER_SEC;
    while (!done() && g_get_monotonic_time() < end) g_main_context_iteration(nullptr, FALSE);
    return done();
  }
  void Do(const Step& step) {
    GtkWidget* window = GTK_WIDGET(front_);
    switch (step.act) {
      case Act::kEnter:
        gtk_widget_activate_default(window);
        return;
      case Act::kEscape:
        EXPECT_TRUE(gtk_widget_activate_action(window, "dialog.cancel", nullptr) ||
                    gtk_widget_activate_action(window, "page.close", nullptr));
        return;
      case Act::kCloseBox:
        gtk_window_close(front_);
        return;
      case Act::kPress:
      case Act::kClick:
        gtk_widget_activate(Control(step.what));
        return;
      case Act::kToggle: {
        GtkCheckButton* box = GTK_CHECK_BUTTON(Control(step.what));
        gtk_check_button_set_active(box, !gtk_check_button_get_active(box));
        return;
      }
      case Act::kChoose:
        GListModel* entries = gtk_drop_down_get_model(List());
        for (guint i = 0; i < g_list_model_get_n_items(entries); ++i)
          if (gtk_string_list_get_string(GTK_STRING_LIST(entries), i) == step.what)
            gtk_drop_down_set_selected(List(), i);
        return;
    }
  }
  // Chooses the menu's entry |index| and returns the entries as shown.
  std::vector<std::string> ChooseFromMenu(int index) {
    GMenuModel* menu = nullptr;
    for (GtkWidget* widget : Widgets(GTK_WIDGET(front_)))
      if (GTK_IS_MENU_BUTTON(widget))
        menu = gtk_menu_button_get_menu_model(GTK_MENU_BUTTON(widget));
    std::vector<std::string> shown;
    for (int i = 0; menu != nullptr && i < g_menu_model_get_n_items(menu); ++i) {
      gchar* label = nullptr;
      g_menu_model_get_item_attribute(menu, i, G_MENU_ATTRIBUTE_LABEL, "s", &label);
      shown.push_back(label != nullptr ? label : "");
      g_free(label);
    }
    gchar* action = nullptr;
    if (menu == nullptr ||
        !g_menu_model_get_item_attribute(menu, index, G_MENU_ATTRIBUTE_ACTION, "s", &action))
      return shown;
    GVariant* target =
        g_menu_model_get_item_attribute_value(menu, index, G_MENU_ATTRIBUTE_TARGET, nullptr);
    EXPECT_TRUE(gtk_widget_activate_action_variant(GTK_WIDGET(front_), action, target));
    g_free(action);
    if (target != nullptr) g_variant_unref(target);
    return shown;
  }
  std::string Title() { return gtk_window_get_title(front_); }
  bool Shows(const std::string& text) {
    for (GtkWidget* widget : Widgets(GTK_WIDGET(front_)))
      if (GTK_IS_LABEL(widget) && ShowsText(gtk_label_get_text(GTK_LABEL(widget)), text))
        return true;
    return false;
  }
  bool Enabled(const std::string& text) { return gtk_widget_get_sensitive(Control(text)); }
  // The list's chosen entry.
  std::string Chosen() {
    return gtk_string_object_get_string(GTK_STRING_OBJECT(gtk_drop_down_get_selected_item(List())));
  }
  Bounds FrontBounds() {
    GtkWidget* window = GTK_WIDGET(front_);
    EXPECT_TRUE(WaitUntil([&] { return gtk_widget_get_mapped(window); }));
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    Bounds bounds{0, 0, gtk_widget_get_width(window), gtk_widget_get_height(window), 0};
    gtk_widget_measure(window, GTK_ORIENTATION_VERTICAL, bounds.width, nullptr,
                       &bounds.content_height, nullptr, nullptr);
    return bounds;
  }
  bool Closed() { return closed_; }
  // What the windows reported, as it goes on the wire (which compares every field).
  std::vector<std::string> Events() { return events_; }

 private:
  template <class Event>
  std::function<void(const Event&)> Reporter() {
    return [this](const Event& event) { events_.push_back(EncodeFrame(event)); };
  }
  void SetFront(GtkWindow* window) {
    front_ = window;
    closed_ = false;
    g_signal_connect_swapped(window, "destroy", G_CALLBACK(+[](Windows* self) {
                               self->closed_ = true;
                               self->view_ = nullptr;
                             }),
                             this);
  }
  // The button or check box that shows |text|.
  GtkWidget* Control(const std::string& text) {
    for (GtkWidget* widget : Widgets(GTK_WIDGET(front_))) {
      if (!GTK_IS_BUTTON(widget) && !GTK_IS_CHECK_BUTTON(widget)) continue;
      for (GtkWidget* label : Widgets(widget))
        if (GTK_IS_LABEL(label) && gtk_label_get_text(GTK_LABEL(label)) == text) return widget;
    }
    ADD_FAILURE() << "no control shows " << text;
    return nullptr;
  }
  GtkDropDown* List() {
    for (GtkWidget* widget : Widgets(GTK_WIDGET(front_)))
      if (GTK_IS_DROP_DOWN(widget)) return GTK_DROP_DOWN(widget);
    return nullptr;
  }

  ConsoleTexts texts_;
  std::vector<std::string> events_;
  GtkWindow* front_ = nullptr;
  bool closed_ = false;
  ViewWindow* view_ = nullptr;
};

#endif

TEST(DialogWindowTest, EachWayOfAnsweringGivesTheButtonAndTheCheckBoxesOnce) {
  const struct {
    const char* name;
    std::vector<Step> steps;
    uint32_t show_time_ms;
    int32_t button;
    std::vector<uint8_t> checked;
  } cases[] = {
      {"Enter presses the default button", {{Act::kEnter}}, 0, 100, {1, 0}},
      {"Box 1 ticked, B1 pressed", {{Act::kToggle, "Box 1"}, {Act::kPress, "B1"}}, 0, 101, {1, 1}},
      {"a box cleared, Escape", {{Act::kToggle, "Box 0"}, {Act::kEscape}}, 0, -1, {0, 0}},
      {"a box ticked, the close box", {{Act::kToggle, "Box 1"}, {Act::kCloseBox}}, 0, -1, {1, 1}},
      {"Box 1 and B1 clicked", {{Act::kClick, "Box 1"}, {Act::kClick, "B1"}}, 0, 101, {1, 1}},
      {"the show time ends", {}, 300, -1, {1, 0}},
  };
  Windows windows;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Answer answer;
    windows.ShowDialog(Dialog(c.name, &answer, 2, 2, c.show_time_ms));
    EXPECT_EQ(windows.Title(), c.name);
    // Markup and ampersands are text.
    for (const char* text : {"Remove <b>42</b> files & folders", "B1", "Box 1"})
      EXPECT_TRUE(windows.Shows(text)) << text;
    for (const Step& step : c.steps) windows.Do(step);
    ASSERT_TRUE(windows.WaitUntil([&] { return answer.Calls() > 0; }));
    EXPECT_TRUE(windows.WaitUntil([&] { return windows.Closed(); }));
    // One call: no later event answers again.
    EXPECT_EQ(answer.Received(), std::tuple(1, c.button, c.checked));
  }
}

TEST(PageWindowTest, InformationShowsTheFactsAsTextInTheAgentsLanguageAndEscapeCloses) {
  Windows windows;
  windows.SetTexts(
      SetTexts{"Brisko", {{"CONSOLE_INFO_TITLE", "Informationen"}, {"CONSOLE_MENU", ""}}});
  windows.Show(ShowInfoMessage{
      "Corvane <i>Brisko</i> & Co",
      "bk_free",
      "1.0.0",
      "5a63d8",
      "C:\\Users\\u\\wardex.log",
      {{"ConsoleModule.dll", "Corvane Software GmbH"}, {"TurboModule.dll", "Orbiware"}},
      {"Wardex Version 1.0.0", "Copyright (C) 2026 Corvane"}});
  EXPECT_EQ(windows.Title(), "Brisko - Informationen");
  for (const char* text :
       {"Corvane <i>Brisko</i> & Co", "bk_free", "1.0.0", "5a63d8", "C:\\Users\\u\\wardex.log",
        "ConsoleModule.dll (Corvane Software GmbH)\nTurboModule.dll (Orbiware)",
        "Wardex Version 1.0.0", "Copyright (C) 2026 Corvane", "Version", "Close"})
    EXPECT_TRUE(windows.Shows(text)) << text;
#ifdef _WIN32
  // New texts retitle the open window.
  windows.SetTexts(SetTexts{"Brisko", {{"CONSOLE_INFO_TITLE", "Info"}}});
  EXPECT_TRUE(windows.WaitUntil([&] { return windows.Title() == "Brisko - Info"; }));
#endif
  windows.Do({Act::kEscape});
  EXPECT_TRUE(windows.WaitUntil([&] { return windows.Closed(); }));
}

TEST(PageWindowTest, SettingsSaveAnswersTheChoicesAndEveryOtherWayAnswersNothing) {
  const struct {
    const char* name;
    std::vector<Step> steps;
    std::optional<SettingsChosen> answer;
  } cases[] = {
      // A person reads the language's name; the answer carries its code.
      {"Enter saves the changes",
       {{Act::kChoose, "Deutsch"},
        {Act::kToggle, "Start at logon"},
        {Act::kToggle, "Show the daily news"},
        {Act::kEnter}},
       SettingsChosen{"de", true, false}},
      {"Enter saves unchanged", {{Act::kEnter}}, SettingsChosen{"fr", false, true}},
      {"Escape after a change", {{Act::kChoose, "English"}, {Act::kEscape}}, std::nullopt},
      {"a change, Cancel", {{Act::kToggle, "Show the daily news"}, {Act::kPress, "Cancel"}}, {}},
      {"the close box", {{Act::kCloseBox}}, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Windows windows;
    // The language in use has no file any more: it is offered first.
    windows.Show(ShowSettingsMessage{"fr", {{"en_II", "English"}, {"de", "Deutsch"}}, false, true});
    EXPECT_EQ(windows.Chosen(), "fr");
    for (const Step& step : c.steps) windows.Do(step);
    EXPECT_TRUE(windows.WaitUntil([&] { return windows.Closed(); }));
    EXPECT_EQ(windows.Events(),
              c.answer ? std::vector{EncodeFrame(*c.answer)} : std::vector<std::string>{});
  }
}

TEST(PageWindowTest, ViewShowsTheDescriptionAndItsButtonsAndMenuAnswerWithTheirIds) {
  Windows windows;
  ShowViewMessage view{7,
                       "Temporary <b>files</b>",
                       {{"Files", "3425", -1}, {"Checked", "Every entry", 100}},
                       {{1, "Check again", true}, {2, "Clean", false}},
                       {{0x8010, "Start Corvane & Brisko", true}, {0x8016, "Info", true}}};
  windows.Show(view);
  EXPECT_EQ(windows.Title(), "Quick check");
  for (const char* text : {"Temporary <b>files</b>", "Files", "3425", "Every entry", "Menu"})
    EXPECT_TRUE(windows.Shows(text)) << text;
  EXPECT_TRUE(windows.Enabled("Check again"));
  EXPECT_FALSE(windows.Enabled("Clean"));

  // Enter presses the first button (a mapped GTK button shows itself pressed
  // for a moment before it clicks); the menu's second entry reaches the
  // handler with its command.
  windows.Do({Act::kEnter});
  ASSERT_TRUE(windows.WaitUntil([&] { return windows.Events().size() == 1; }));
  EXPECT_EQ(windows.ChooseFromMenu(1),
            (std::vector<std::string>{"Start Corvane & Brisko", "Info"}));
  ASSERT_TRUE(windows.WaitUntil([&] { return windows.Events().size() == 2; }));
  EXPECT_EQ(windows.Events(), (std::vector{EncodeFrame(ViewButtonPressed{7, 1}),
                                           EncodeFrame(MenuCommandChosen{0x8016})}));

  // A new description replaces the content in place; no menu, no menu button.
  view.rows = {{"Status", "Not checked yet", -1}};
  view.menu.clear();
  windows.Show(view);
  EXPECT_TRUE(windows.WaitUntil([&] { return windows.Shows("Not checked yet"); }));
  EXPECT_EQ(std::pair(windows.Shows("3425"), windows.Shows("Menu")), std::pair(false, false));
  windows.Do({Act::kEscape});
  EXPECT_TRUE(windows.WaitUntil([&] { return windows.Closed(); }));
  EXPECT_EQ(windows.Events().size(), 2u);
}

// Every window fits a 1024 x 768 screen and is wide enough to read, also with
// the largest content the messages carry.
TEST(PageWindowTest, EveryWindowFitsTheScreenAndItsContent) {
  Windows windows;
  for (const bool largest : {false, true}) {
    std::string word = "Corvane Software GmbH";
    for (int i = 0; largest && i < 4; ++i) word += " " + word;
    const size_t entries = largest ? kMaxListEntries : 3;
    const size_t buttons = largest ? kMaxDialogButtons : 2;
    const ConsoleMessage pages[] = {
        ShowInfoMessage{word, word, "1.0.0", "5a63d8e2c1f04b7f9a2d3e4f5a6b7c8d",
                        "/home/someone/.local/state/wardex/" + word + ".log",
                        std::vector<ModuleEntry>(entries, {"TurboModule", word}),
                        std::vector<std::string>(entries, "Copyright (C) 2026 " + word)},
        ShowSettingsMessage{"de", std::vector<LanguageEntry>(entries, {"de", word}), true, false},
        ShowViewMessage{7, word, std::vector<ViewRowData>(entries, {"Temporary files", word, 40}),
                        std::vector<ViewButtonData>(buttons, {1, word, true}),
                        std::vector<MenuEntry>(buttons, {0x8010, word, true})}};
    const std::u16string title = KaOSAL::FromUtf8(word);
    std::u16string message = u"Remove 42 files?";
    while (largest && message.size() < kMaxTextBytes / 2) message += u" " + title;
    for (size_t i = 0; i <= std::size(pages); ++i) {
      SCOPED_TRACE(testing::Message() << "window " << i << (largest ? ", largest content" : ""));
      if (i < std::size(pages)) {
        windows.Show(pages[i]);
      } else {
        MessageDialog dialog;
        dialog.header = title.c_str();
        dialog.message = message.c_str();
        dialog.icon = 2;
        for (size_t b = 0; b < buttons; ++b)
          dialog.buttons.push_back({title.c_str(), static_cast<int32_t>(b), {}, {}, 0});
        dialog.check_boxes.assign(largest ? kMaxDialogCheckBoxes : 1,
                                  {(title + u" " + title).c_str(), 0, 0});
        windows.ShowDialog(std::move(dialog));
      }
      const Bounds bounds = windows.FrontBounds();
      EXPECT_LE(bounds.left + bounds.width, 1024);
      EXPECT_LE(bounds.top + bounds.height, kUsableHeight);
      EXPECT_GE(bounds.width, 360);
#ifdef _WIN32
      // Placed on the screen (a GTK window's place is the window manager's).
      EXPECT_GE(bounds.left, 0);
      EXPECT_GE(bounds.top, 0);
#else
      // GTK measures a window's height for its narrowest width.
      EXPECT_LE(bounds.height, bounds.content_height + 24)
          << bounds.width << " x " << bounds.height;
#endif
      windows.Do({Act::kCloseBox});
      EXPECT_TRUE(windows.WaitUntil([&] { return windows.Closed(); }));
    }
  }
}

#ifdef _WIN32
TEST(DialogWindowTest, DialogsOpenWhenTheConsoleGoesAreAnsweredNoButton) {
  Answer first;
  Answer second;
  HWND shown = nullptr;
  {
    std::unique_ptr<ConsoleBackend> backend = MakeBackend();
    backend->ShowDialog(Dialog("Left open", &first, 2, 2));
    backend->ShowDialog(Dialog("Also open", &second, 1, 1));
    shown = test::WaitForWindow(L"#32770", L"Left open");
    ASSERT_NE(test::WaitForWindow(L"#32770", L"Also open"), nullptr);
  }
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(first.Received(), std::tuple(1, -1, Boxes(2, 0)));
  EXPECT_EQ(second.Received(), std::tuple(1, -1, Boxes(1, 0)));
  EXPECT_FALSE(IsWindow(shown));
}
#endif

}  // namespace
}  // namespace wardex::console
