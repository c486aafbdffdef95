// The information, settings and module-view windows, drawn from the same
// messages as on Linux. Each is titled "<product name> - <window title>" and
// follows the agent's texts; Escape and the close box close it.
#pragma once

#include <string>
#include <vector>

#include "console_windows.h"
#include "win/window_layout.h"

namespace wardex::console::win {

class PageWindow : public ConsoleDialog {
 public:
  void Retitle(const ConsoleTexts& texts) override;

 protected:
  PageWindow(const char* title_key, const char* title_fallback)
      : title_key_(title_key), title_fallback_(title_fallback) {}
  bool Create(const ConsoleTexts& texts);
  // The heading of the window's content at |y|, in a larger bold font;
  // returns the height it took.
  int AddHeading(const std::string& text, int y, int width);

 private:
  const char* title_key_;
  const char* title_fallback_;
};

// The agent's facts: product, edition, version, computer identifier, log
// file, the loaded modules with their signers and the About lines, all
// selectable. Close (the default) closes it.
class InfoWindow final : public PageWindow {
 public:
  static InfoWindow* Open(const ConsoleTexts& texts, const ShowInfoMessage& info);

 private:
  InfoWindow() : PageWindow("CONSOLE_INFO_TITLE", "Information") {}
  void Build(const ConsoleTexts& texts, const ShowInfoMessage& info);
  bool OnCommand(int id, int code) override;
};

// The language (one of the language files present), start at logon and the
// daily news. Save (the default) reports the choices as SettingsChosen and
// closes; Cancel, Escape and the close box report nothing.
class SettingsWindow final : public PageWindow {
 public:
  static SettingsWindow* Open(const ConsoleTexts& texts, const ShowSettingsMessage& settings,
                              ConsoleWindows::EventHandler on_event);

 private:
  explicit SettingsWindow(ConsoleWindows::EventHandler on_event)
      : PageWindow("CONSOLE_SETTINGS_TITLE", "Settings"), on_event_(std::move(on_event)) {}
  void Build(const ConsoleTexts& texts, const ShowSettingsMessage& settings);
  bool OnCommand(int id, int code) override;

  ConsoleWindows::EventHandler on_event_;
  std::vector<std::string> languages_;  // the codes, in the list's order
  HWND language_ = nullptr;
  HWND start_at_logon_ = nullptr;
  HWND news_ = nullptr;
};

// A module's view: the title, one line per row (label, value, progress bar),
// the module's buttons (the first the default) reported as
// ViewButtonPressed, and, when the agent sent them, the tray menu's commands
// behind a menu button, reported as MenuCommandChosen. A new description
// replaces the content in place.
class ViewWindow final : public PageWindow {
 public:
  static ViewWindow* Open(const ConsoleTexts& texts, const ShowViewMessage& view,
                          ConsoleWindows::EventHandler on_event);
  void Update(const ShowViewMessage& view);

 private:
  ViewWindow(const ConsoleTexts& texts, ConsoleWindows::EventHandler on_event)
      : PageWindow("CONSOLE_QUICK_CHECK_TITLE", "Quick check"),
        menu_title_(texts.Get("CONSOLE_MENU", "Menu")),
        on_event_(std::move(on_event)) {}
  bool OnCommand(int id, int code) override;
  void ShowMenu();

  const std::string menu_title_;
  ConsoleWindows::EventHandler on_event_;
  ShowViewMessage view_;  // what is shown now
};

}  // namespace wardex::console::win
