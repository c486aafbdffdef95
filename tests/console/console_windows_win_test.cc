// The Console's Win32 windows on Wine: what each window shows, and what the
// user's keys and clicks answer. Keys are posted to the focused control, as
// Xvfb has no window manager to give a window the keyboard; each step waits
// for its visible effect.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "console/dialog_answer.h"
#include "console/window_contents.h"
#include "console_backend.h"
#include "platform/menu.h"
#include "win/window_thread.h"

// After the system headers in the order that window_thread.h includes them.
#include "support/wine_desktop_win.h"

namespace wardex::console::win {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Waits up to 10 s for |done|.
bool WaitUntil(const std::function<bool()>& done) {
  for (const auto end = Clock::now() + 10s; Clock::now() < end;) {
    if (done()) return true;
    std::this_thread::sleep_for(10ms);
  }
  return done();
}

std::wstring TextOf(HWND window) {
  wchar_t text[4096] = {};
  GetWindowTextW(window, text, 4096);
  return text;
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// The visible dialog window titled |title|, waited for.
HWND WaitForWindow(const std::string& title) {
  return test::WaitForWindow(L"#32770", Wide(title).c_str());
}

// The texts of |window|'s controls, in creation order.
std::vector<std::wstring> ControlTexts(HWND window) {
  std::vector<std::wstring> texts;
  for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT))
    texts.push_back(TextOf(child));
  return texts;
}
bool Shows(HWND window, const std::string& text) {
  for (const std::wstring& shown : ControlTexts(window))
    if (shown == Wide(text)) return true;
  return false;
}

HWND Control(HWND window, const std::string& text) {
  for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT))
    if (TextOf(child) == Wide(text)) return child;
  return nullptr;
}

HWND FocusOf(DWORD thread) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof(info);
  return GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
}

// Not a key: the window's close box.
constexpr WORD kCloseBox = 0xF001;

// Presses |key| on the focused control of |thread| and waits for what it
// does there: Tab moves the focus, Space ticks a box, Down picks a list's
// next entry. Enter and Escape close the window, which the caller awaits.
void Press(DWORD thread, WORD key) {
  HWND focus = FocusOf(thread);
  const auto state = [&]() -> LRESULT {
    if (key == VK_TAB) return reinterpret_cast<LRESULT>(FocusOf(thread));
    return SendMessageW(focus, key == VK_SPACE ? BM_GETCHECK : CB_GETCURSEL, 0, 0);
  };
  const LRESULT before = state();
  test::PostKeys(focus, {key});
  if (key != VK_RETURN && key != VK_ESCAPE) {
    EXPECT_TRUE(WaitUntil([&] { return state() != before; })) << "key " << key;
  }
}

// Clicks the middle of |control| with the mouse.
void Click(HWND control) { test::Click(control, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP); }

bool Checked(HWND box) { return SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED; }

// The events as they would go on the wire, which compares every field.
std::vector<std::string> Frames(const std::vector<ConsoleMessage>& events) {
  std::vector<std::string> frames;
  for (const ConsoleMessage& event : events) frames.push_back(EncodeFrame(event));
  return frames;
}

// What the windows reported, from their thread.
class Events {
 public:
  ConsoleWindows::EventHandler Handler() {
    return [this](const ConsoleMessage& event) {
      std::lock_guard<std::mutex> hold(lock_);
      events_.push_back(event);
    };
  }
  std::vector<ConsoleMessage> WaitFor(size_t count) {
    WaitUntil([&] {
      std::lock_guard<std::mutex> hold(lock_);
      return events_.size() >= count;
    });
    std::lock_guard<std::mutex> hold(lock_);
    return events_;
  }

 private:
  std::mutex lock_;
  std::vector<ConsoleMessage> events_;
};

TEST(DialogWindowTest, KeysAndClicksAnswerWithTheButtonAndTheCheckBoxesOnce) {
  // Keys, and clicks with the mouse; each waits for its effect but the last.
  constexpr WORD kClickSecondBox = 0xF002, kClickSecondButton = 0xF003;
  const struct {
    const char* name;
    std::vector<WORD> steps;
    uint32_t show_time_ms;
    int32_t button;
    std::vector<uint8_t> checked;
  } cases[] = {
      {"Enter presses the default button", {VK_RETURN}, 0, 100, {1, 0}},
      {"Tab to the second button, Enter", {VK_TAB, VK_RETURN}, 0, 101, {1, 0}},
      {"Tab on to a check box, Space, Escape",
       {VK_TAB, VK_TAB, VK_SPACE, VK_ESCAPE},
       0,
       -1,
       {0, 0}},
      {"the close box", {kCloseBox}, 0, -1, {1, 0}},
      {"clicks on a check box and a button", {kClickSecondBox, kClickSecondButton}, 0, 101, {1, 1}},
      {"the show time ends", {}, 300, -1, {1, 0}},
  };
  WindowThread windows([](const ConsoleMessage&) {});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Answer answer;
    windows.ShowDialog(Dialog(c.name, &answer, 2, 2, c.show_time_ms));
    HWND dialog = WaitForWindow(c.name);
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(Shows(dialog, "Message"));
    ASSERT_TRUE(WaitUntil([&] { return FocusOf(windows.thread_id()) == Control(dialog, "B0"); }))
        << "the default button has the focus";
    for (const WORD step : c.steps) {
      if (step == kCloseBox) {
        PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
      } else if (step == kClickSecondBox) {
        HWND box = GetWindow(Control(dialog, "Box"), GW_HWNDNEXT);
        Click(box);
        EXPECT_TRUE(WaitUntil([&] { return Checked(box); }));
      } else if (step == kClickSecondButton) {
        Click(Control(dialog, "B1"));
      } else {
        Press(windows.thread_id(), step);
      }
    }
    ASSERT_TRUE(answer.WaitFor(10s));
    EXPECT_EQ(answer.button, c.button);
    EXPECT_EQ(answer.checked, c.checked);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(dialog); }));
    EXPECT_EQ(answer.Calls(), 1);
  }
}

TEST(DialogWindowTest, DialogsOpenWhenTheConsoleGoesAreAnsweredNoButton) {
  Answer first;
  Answer second;
  HWND shown = nullptr;
  {
    std::unique_ptr<ConsoleBackend> backend = MakeBackend();
    backend->ShowDialog(Dialog("Left open", &first, 2, 2));
    backend->ShowDialog(Dialog("Also open", &second, 1, 1));
    shown = WaitForWindow("Left open");
    ASSERT_NE(WaitForWindow("Also open"), nullptr);
  }
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(first.Calls(), 1);
  EXPECT_EQ(first.button, -1);
  EXPECT_EQ(first.checked, Boxes(2, 0));
  EXPECT_EQ(second.Calls(), 1);
  EXPECT_EQ(second.button, -1);
  EXPECT_FALSE(IsWindow(shown));
}

SetTexts GermanTexts() {
  return SetTexts{"Brisko", {{"CONSOLE_INFO_TITLE", "Informationen"}, {"CONSOLE_MENU", ""}}};
}

TEST(PageWindowTest, InformationShowsTheFactsAsTextInTheAgentsLanguageAndEscapeCloses) {
  WindowThread windows([](const ConsoleMessage&) {});
  windows.SetStartMessage(GermanTexts());
  ASSERT_TRUE(windows.Send(ShowInfoMessage{
      "Corvane <i>Brisko</i> & Co",
      "bk_free",
      "1.0.0",
      "5a63d8",
      "C:\\Users\\u\\wardex.log",
      {{"ConsoleModule.dll", "Corvane Software GmbH"}, {"TurboModule.dll", "Orbiware"}},
      {"Wardex Version 1.0.0", "Copyright (C) 2026 Corvane"}}));
  HWND window = WaitForWindow("Brisko - Informationen");
  ASSERT_NE(window, nullptr);
  for (const char* text :
       {"Corvane <i>Brisko</i> & Co", "bk_free", "1.0.0", "5a63d8", "C:\\Users\\u\\wardex.log",
        "ConsoleModule.dll (Corvane Software GmbH)\r\nTurboModule.dll (Orbiware)",
        "Wardex Version 1.0.0\r\nCopyright (C) 2026 Corvane", "Version", "Close"})
    EXPECT_TRUE(Shows(window, text)) << text;
  // New texts retitle the open window.
  windows.SetStartMessage(SetTexts{"Brisko", {{"CONSOLE_INFO_TITLE", "Info"}}});
  EXPECT_TRUE(WaitUntil([&] { return TextOf(window) == L"Brisko - Info"; }));
  test::PostKeys(FocusOf(windows.thread_id()), {VK_ESCAPE});
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(window); }));
}

TEST(PageWindowTest, SettingsSaveAnswersTheChoicesAndEveryOtherWayAnswersNothing) {
  const struct {
    const char* name;
    std::vector<WORD> keys;
    std::optional<SettingsChosen> answer;
  } cases[] = {
      // A person reads the language's name; the answer carries its code.
      {"Enter saves the changes",
       {VK_TAB, VK_TAB, VK_DOWN, VK_DOWN, VK_TAB, VK_SPACE, VK_TAB, VK_SPACE, VK_RETURN},
       SettingsChosen{"de", true, false}},
      {"Enter saves unchanged", {VK_RETURN}, SettingsChosen{"fr", false, true}},
      {"Escape after a change", {VK_TAB, VK_TAB, VK_DOWN, VK_ESCAPE}, std::nullopt},
      {"the close box", {kCloseBox}, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Events events;
    WindowThread windows(events.Handler());
    // The language in use has no file any more: it is offered first.
    ASSERT_TRUE(windows.Send(
        ShowSettingsMessage{"fr", {{"en_II", "English"}, {"de", "Deutsch"}}, false, true}));
    HWND window = WaitForWindow("Settings");
    ASSERT_NE(window, nullptr);
    HWND language = GetDlgItem(window, 0);
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
      wchar_t window_class[16] = {};
      GetClassNameW(child, window_class, 16);
      if (std::wstring(window_class) == L"ComboBox") language = child;
    }
    ASSERT_NE(language, nullptr);
    EXPECT_EQ(SendMessageW(language, CB_GETCOUNT, 0, 0), 3);
    EXPECT_EQ(SendMessageW(language, CB_GETCURSEL, 0, 0), 0);
    ASSERT_TRUE(WaitUntil([&] { return FocusOf(windows.thread_id()) == Control(window, "Save"); }));
    // From Save on to Cancel, the languages, the two boxes.
    for (WORD key : c.keys) {
      if (key == kCloseBox)
        PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
      else
        Press(windows.thread_id(), key);
    }
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(window); }));
    EXPECT_EQ(Frames(events.WaitFor(c.answer ? 1 : 0)),
              c.answer ? Frames({*c.answer}) : std::vector<std::string>{});
  }
}

TEST(PageWindowTest, ViewShowsTheDescriptionAndItsButtonsAndMenuAnswerWithTheirIds) {
  Events events;
  WindowThread windows(events.Handler());
  ShowViewMessage view{7,
                       "Temporary <b>files</b>",
                       {{"Files", "3425", -1}, {"Checked", "Every entry", 100}},
                       {{1, "Check again", true}, {2, "Clean", false}},
                       {{0x8010, "Start Corvane & Brisko", true}, {0x8016, "Info", true}}};
  ASSERT_TRUE(windows.Send(view));
  HWND window = WaitForWindow("Quick check");
  ASSERT_NE(window, nullptr);
  for (const char* text : {"Temporary <b>files</b>", "Files", "3425", "Every entry"})
    EXPECT_TRUE(Shows(window, text)) << text;
  EXPECT_FALSE(IsWindowEnabled(Control(window, "Clean")));

  // Enter presses the first button; the menu's second entry reaches the
  // handler with its command.
  test::PostKeys(FocusOf(windows.thread_id()), {VK_RETURN});
  Click(Control(window, "Menu"));
  HWND menu = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (menu = FindWindowW(L"#32768", nullptr)) != nullptr; }));
  HMENU entries = reinterpret_cast<HMENU>(SendMessageW(menu, MN_GETHMENU, 0, 0));
  wchar_t text[64] = {};
  GetMenuStringW(entries, 0, text, 64, platform::MF_BYPOSITION);
  EXPECT_STREQ(text, L"Start Corvane && Brisko");  // shown with one ampersand
  test::PostKeys(menu, {VK_DOWN, VK_DOWN, VK_RETURN});
  EXPECT_EQ(Frames(events.WaitFor(2)),
            Frames({ViewButtonPressed{7, 1}, MenuCommandChosen{0x8016}}));

  // A new description replaces the content in place; no menu, no menu button.
  view.rows = {{"Status", "Not checked yet", -1}};
  view.menu.clear();
  ASSERT_TRUE(windows.Send(view));
  EXPECT_TRUE(WaitUntil([&] { return Shows(window, "Not checked yet"); }));
  EXPECT_FALSE(Shows(window, "3425"));
  EXPECT_EQ(Control(window, "Menu"), nullptr);
  test::PostKeys(FocusOf(windows.thread_id()), {VK_ESCAPE});
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(window); }));
}

// Every window fits a 1024 x 768 screen and is wide enough to read, also
// with the largest content the messages carry.
TEST(PageWindowTest, EveryWindowFitsTheScreen) {
  const char* const kTitles[] = {"Information", "Settings", "Quick check"};
  WindowThread windows([](const ConsoleMessage&) {});
  for (const bool largest : {false, true}) {
    const std::vector<ConsoleMessage> contents = WindowContents(largest);
    for (size_t i = 0; i < contents.size(); ++i) {
      const auto* dialog = std::get_if<ShowDialogMessage>(&contents[i]);
      const std::string title = dialog != nullptr ? dialog->header : kTitles[i];
      SCOPED_TRACE(title.substr(0, 21) + (largest ? ", largest content" : ""));
      if (dialog != nullptr) {
        MessageDialog shown;
        shown.header = KaOSAL::FromUtf8(dialog->header).c_str();
        shown.message = KaOSAL::FromUtf8(dialog->message).c_str();
        for (const DialogButton& button : dialog->buttons)
          shown.buttons.push_back(
              {KaOSAL::FromUtf8(button.title).c_str(), button.value, {}, {}, 0});
        for (const DialogCheckBox& box : dialog->check_boxes)
          shown.check_boxes.push_back({KaOSAL::FromUtf8(box.title).c_str(), 0, 0});
        windows.ShowDialog(std::move(shown));
      } else {
        ASSERT_TRUE(windows.Send(contents[i]));
      }
      HWND window = WaitForWindow(title);
      ASSERT_NE(window, nullptr);
      RECT rect = {};
      GetWindowRect(window, &rect);
      EXPECT_GE(rect.left, 0);
      EXPECT_GE(rect.top, 0);
      EXPECT_LE(rect.right, 1024);
      EXPECT_LE(rect.bottom, 768);
      EXPECT_GE(rect.right - rect.left, 360);
      PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
      EXPECT_TRUE(WaitUntil([&] { return !IsWindow(window); }));
    }
  }
}

}  // namespace
}  // namespace wardex::console::win
