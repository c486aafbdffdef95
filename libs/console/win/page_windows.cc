#include "win/page_windows.h"

#include <algorithm>
#include <utility>

namespace wardex::console::win {
namespace {

// The content's width (about 60 average characters) and its name column.
constexpr int kPageWidth = 240;
constexpr int kNameWidth = 70;
constexpr int kRowHeight = 10;
// Longer lists scroll in their boxes.
constexpr int kMaxListLines = 8;
constexpr int kMaxAboutLines = 6;
constexpr int kLanguageListLines = 8;
constexpr int kMenuButtonId = 999;
constexpr int kFirstViewButtonId = 1000;

// A read-only edit control: selectable text that scrolls when it is longer
// than its box.
constexpr DWORD kReadOnlyText = ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP;
constexpr DWORD kReadOnlyLines = ES_MULTILINE | ES_READONLY | WS_TABSTOP;

// |text| with '&' doubled, for a menu, which would take it as a mnemonic.
std::wstring MenuText(const std::string& text) {
  std::wstring menu;
  for (const wchar_t c : Wide(text)) {
    if (c == L'&') menu += L'&';
    menu += c;
  }
  return menu;
}

}  // namespace

void PageWindow::Retitle(const ConsoleTexts& texts) {
  SetWindowTextW(hwnd(), Wide(texts.Title(title_key_, title_fallback_)).c_str());
}

bool PageWindow::Create(const ConsoleTexts& texts) {
  if (!ConsoleDialog::Create(Wide(texts.Title(title_key_, title_fallback_)))) return false;
  return true;
}

int PageWindow::AddHeading(const std::string& text, int y, int width) {
  HFONT heading = Font(true, false, false, 120);
  const std::wstring wide = Wide(text);
  const int height = TextHeight(L"X", width, heading);
  Add(L"STATIC", wide, SS_NOPREFIX | SS_ENDELLIPSIS,
      {X(kMargin), y, X(kMargin) + width, y + height}, 0, heading);
  return height;
}

InfoWindow* InfoWindow::Open(const ConsoleTexts& texts, const ShowInfoMessage& info) {
  auto* window = new InfoWindow();
  if (!window->Create(texts)) {
    delete window;
    return nullptr;
  }
  window->Build(texts, info);
  return window;
}

void InfoWindow::Build(const ConsoleTexts& texts, const ShowInfoMessage& info) {
  const int left = X(kMargin);
  const int width = X(kPageWidth);
  const int name_width = X(kNameWidth);
  const int value_left = left + name_width + X(kGap);
  const int value_width = width - name_width - X(kGap);
  const int line = TextHeight(L"X", width, font());
  int y = Y(kMargin);
  y += AddHeading(info.product_name, y, width) + Y(kMargin);

  auto add_name = [&](const char* key, const char* fallback) {
    Add(L"STATIC", Wide(texts.Get(key, fallback)), SS_NOPREFIX,
        {left, y, left + name_width, y + Y(kRowHeight)});
  };
  const std::pair<const char*, const char*> names[] = {
      {"CONSOLE_INFO_EDITION", "Edition"},
      {"CONSOLE_INFO_VERSION", "Version"},
      {"CONSOLE_INFO_COMPUTER", "Computer identifier"},
      {"CONSOLE_INFO_LOG", "Log file"}};
  const std::string* values[] = {&info.edition, &info.version, &info.computer_id, &info.log_file};
  for (size_t i = 0; i < std::size(names); ++i) {
    add_name(names[i].first, names[i].second);
    Add(L"EDIT", Wide(*values[i]), kReadOnlyText,
        {value_left, y, value_left + value_width, y + Y(kRowHeight)});
    y += Y(kRowHeight) + Y(kGap);
  }

  std::string modules;
  for (const ModuleEntry& module : info.modules) {
    if (!modules.empty()) modules += '\n';
    modules += module.name + " (" + module.signer + ")";
  }
  const std::wstring module_text = Wide(modules, true);
  const int modules_height = TextHeightUpTo(module_text, value_width, font(), kMaxListLines * line);
  add_name("CONSOLE_INFO_MODULES", "Modules");
  Add(L"EDIT", module_text,
      kReadOnlyLines | (modules_height == kMaxListLines * line ? WS_VSCROLL : 0),
      {value_left, y, value_left + value_width, y + modules_height});
  y += modules_height + Y(kMargin);

  std::string about;
  for (const std::string& entry : info.about) about += (about.empty() ? "" : "\n") + entry;
  if (!about.empty()) {
    const std::wstring about_text = Wide(about, true);
    const int about_height = TextHeightUpTo(about_text, width, font(), kMaxAboutLines * line);
    Add(L"EDIT", about_text,
        kReadOnlyLines | (about_height == kMaxAboutLines * line ? WS_VSCROLL : 0),
        {left, y, left + width, y + about_height});
    y += about_height + Y(kMargin);
  }
  AddButtons({{Wide(texts.Get("CONSOLE_BUTTON_CLOSE", "Close")), IDCANCEL}}, y, left + width);
  Show(width + 2 * left, y + Y(kButtonHeight) + Y(kMargin));
}

bool InfoWindow::OnCommand(int id, int) {
  if (id != IDCANCEL) return false;
  DestroyWindow(hwnd());
  return true;
}

SettingsWindow* SettingsWindow::Open(const ConsoleTexts& texts, const ShowSettingsMessage& settings,
                                     ConsoleWindows::EventHandler on_event) {
  auto* window = new SettingsWindow(std::move(on_event));
  if (!window->Create(texts)) {
    delete window;
    return nullptr;
  }
  window->Build(texts, settings);
  return window;
}

void SettingsWindow::Build(const ConsoleTexts& texts, const ShowSettingsMessage& settings) {
  const int left = X(kMargin);
  const int width = X(kPageWidth);
  int y = Y(kMargin);

  // The language in use is offered even when its file has gone.
  std::vector<std::string> names;
  for (const LanguageEntry& language : settings.languages) {
    languages_.push_back(language.code);
    names.push_back(language.name);
  }
  if (std::find(languages_.begin(), languages_.end(), settings.language) == languages_.end()) {
    languages_.insert(languages_.begin(), settings.language);
    names.insert(names.begin(), settings.language);
  }
  const std::wstring label = Wide(texts.Get("CONSOLE_SETTINGS_LANGUAGE", "Language"));
  const int label_width = std::min(TextWidth(label, font()), X(kNameWidth));
  Add(L"STATIC", label, SS_NOPREFIX, {left, y + Y(2), left + label_width, y + Y(2 + kLineHeight)});
  const int list_left = left + label_width + X(kMargin);
  language_ = Add(L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP,
                  {list_left, y, left + width, y + Y(12) + kLanguageListLines * Y(kLineHeight)});
  for (const std::string& name : names)
    SendMessageW(language_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(name).c_str()));
  const auto current = std::find(languages_.begin(), languages_.end(), settings.language);
  SendMessageW(language_, CB_SETCURSEL, static_cast<WPARAM>(current - languages_.begin()), 0);
  y += Y(14) + Y(kMargin);

  auto check_box = [&](const char* key, const char* fallback, bool checked) {
    HWND box = Add(L"BUTTON", Wide(texts.Get(key, fallback)), BS_AUTOCHECKBOX | WS_TABSTOP,
                   {left, y, left + width, y + Y(kRowHeight)});
    SendMessageW(box, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    y += Y(kRowHeight) + Y(kGap);
    return box;
  };
  start_at_logon_ = check_box("CONSOLE_SETTINGS_LOGON", "Start at logon", settings.start_at_logon);
  news_ = check_box("CONSOLE_SETTINGS_NEWS", "Show the daily news", settings.news);
  const std::wstring note = Wide(texts.Get("CONSOLE_SETTINGS_NOTE", ""), true);
  if (!note.empty()) {
    const int height = TextHeightUpTo(note, width, font(), MaxClientHeight() / 2);
    Add(L"STATIC", note, SS_NOPREFIX, {left, y, left + width, y + height});
    y += height + Y(kGap);
  }
  y += Y(kMargin) - Y(kGap);
  AddButtons({{Wide(texts.Get("CONSOLE_BUTTON_SAVE", "Save")), IDOK},
              {Wide(texts.Get("CONSOLE_BUTTON_CANCEL", "Cancel")), IDCANCEL}},
             y, left + width);
  Show(width + 2 * left, y + Y(kButtonHeight) + Y(kMargin));
}

bool SettingsWindow::OnCommand(int id, int) {
  if (id == IDOK) {
    SettingsChosen chosen;
    const LRESULT selected = SendMessageW(language_, CB_GETCURSEL, 0, 0);
    if (selected >= 0 && static_cast<size_t>(selected) < languages_.size())
      chosen.language = languages_[static_cast<size_t>(selected)];
    chosen.start_at_logon = SendMessageW(start_at_logon_, BM_GETCHECK, 0, 0) == BST_CHECKED;
    chosen.news = SendMessageW(news_, BM_GETCHECK, 0, 0) == BST_CHECKED;
    on_event_(chosen);
  } else if (id != IDCANCEL) {
    return false;
  }
  DestroyWindow(hwnd());
  return true;
}

ViewWindow* ViewWindow::Open(const ConsoleTexts& texts, const ShowViewMessage& view,
                             ConsoleWindows::EventHandler on_event) {
  auto* window = new ViewWindow(texts, std::move(on_event));
  if (!window->Create(texts)) {
    delete window;
    return nullptr;
  }
  window->Update(view);
  return window;
}

void ViewWindow::Update(const ShowViewMessage& view) {
  view_ = view;
  // The new content replaces the old in place.
  SendMessageW(hwnd(), DM_SETDEFID, IDOK, 0);
  while (HWND child = GetWindow(hwnd(), GW_CHILD)) DestroyWindow(child);

  // The window widens for the buttons, and the tray's commands on their left.
  Buttons buttons;
  for (const ViewButtonData& button : view.buttons)
    buttons.emplace_back(Wide(button.title), kFirstViewButtonId + static_cast<int>(buttons.size()));
  const SIZE buttons_size = ButtonsSize(buttons);
  const std::wstring menu_title = Wide(menu_title_);
  const int menu_width =
      view.menu.empty() ? 0 : std::max(X(kButtonWidth), TextWidth(menu_title, font()) + X(10));
  const int left = X(kMargin);
  const int width = std::max<int>(X(kPageWidth), menu_width + X(kMargin) + buttons_size.cx);
  const int name_width = X(kNameWidth);
  const int value_left = left + name_width + X(kGap);
  const int value_width = width - name_width - X(kGap);
  int y = Y(kMargin);
  y += AddHeading(view.title, y, width) + Y(kMargin);

  // What the rows need; rows that would not fit the screen are shown as
  // lines of text that scroll instead.
  std::vector<int> heights;
  int rows_height = 0;
  for (const ViewRowData& row : view.rows) {
    const int height =
        std::max(TextHeightUpTo(Wide(row.value), value_width, font(), MaxClientHeight()),
                 Y(kLineHeight)) +
        (row.progress >= 0 ? Y(kGap) + Y(kLineHeight) : 0);
    heights.push_back(height);
    rows_height += height + Y(kGap);
  }
  const int bottom_height = std::max<int>(buttons_size.cy, Y(kButtonHeight));
  const int room = MaxClientHeight() - y - bottom_height - 2 * Y(kMargin);
  if (rows_height > room) {
    std::string lines;
    for (const ViewRowData& row : view.rows) {
      lines += (lines.empty() ? "" : "\n") + row.label + ": " + row.value;
      if (row.progress >= 0) lines += " (" + std::to_string(std::min(row.progress, 100)) + " %)";
    }
    Add(L"EDIT", Wide(lines, true), kReadOnlyLines | WS_VSCROLL, {left, y, left + width, y + room});
    y += room + Y(kGap);
  } else {
    for (size_t i = 0; i < view.rows.size(); ++i) {
      const ViewRowData& row = view.rows[i];
      Add(L"STATIC", Wide(row.label), SS_NOPREFIX, {left, y, left + name_width, y + heights[i]});
      const int value_height = heights[i] - (row.progress >= 0 ? Y(kGap) + Y(kLineHeight) : 0);
      Add(L"STATIC", Wide(row.value), SS_NOPREFIX | SS_EDITCONTROL,
          {value_left, y, value_left + value_width, y + value_height});
      if (row.progress >= 0) {
        const int bar_top = y + value_height + Y(kGap);
        HWND bar = Add(PROGRESS_CLASSW, L"", 0,
                       {value_left, bar_top, value_left + value_width, bar_top + Y(kLineHeight)});
        SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(std::min(row.progress, 100)), 0);
      }
      y += heights[i] + Y(kGap);
    }
  }
  y += Y(kMargin) - Y(kGap);

  if (!view.menu.empty())
    Add(L"BUTTON", menu_title, BS_PUSHBUTTON | WS_TABSTOP,
        {left, y, left + menu_width, y + Y(kButtonHeight)}, kMenuButtonId);
  const std::vector<HWND> made = AddButtons(buttons, y, left + width);
  for (size_t i = 0; i < made.size(); ++i) EnableWindow(made[i], view.buttons[i].enabled);
  Show(width + 2 * left, y + bottom_height + Y(kMargin));
}

bool ViewWindow::OnCommand(int id, int code) {
  if (id == IDCANCEL) {
    DestroyWindow(hwnd());
    return true;
  }
  if (code != BN_CLICKED) return false;
  if (id == kMenuButtonId) {
    ShowMenu();
    return true;
  }
  const int index = id - kFirstViewButtonId;
  if (index < 0 || index >= static_cast<int>(view_.buttons.size())) return false;
  const ViewButtonData& button = view_.buttons[static_cast<size_t>(index)];
  if (button.enabled) on_event_(ViewButtonPressed{view_.view_id, button.id});
  return true;
}

void ViewWindow::ShowMenu() {
  HMENU menu = CreatePopupMenu();
  for (const MenuEntry& entry : view_.menu)
    AppendMenuW(menu, MF_STRING | (entry.enabled ? 0 : MF_GRAYED), entry.command,
                MenuText(entry.title).c_str());
  RECT button = {};
  GetWindowRect(GetDlgItem(hwnd(), kMenuButtonId), &button);
  const UINT command = static_cast<UINT>(
      TrackPopupMenu(menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_LEFTALIGN | TPM_TOPALIGN, button.left,
                     button.bottom, 0, hwnd(), nullptr));
  DestroyMenu(menu);
  if (command != 0) on_event_(MenuCommandChosen{command});
}

}  // namespace wardex::console::win
