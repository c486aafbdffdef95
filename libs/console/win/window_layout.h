// What the Console's Win32 windows share: each is a modeless dialog made
// from an empty template in the system's dialog font ("MS Shell Dlg 2",
// which follows the user's DPI), its controls laid out in dialog units and
// sized to their text. Enter presses the default button, Escape and the
// close box send IDCANCEL, Tab walks the controls: the window thread runs
// IsDialogMessageW for them. Texts are shown as text ('&' is no mnemonic).
#pragma once

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "console_texts.h"
#include "platform/menu.h"
#include "platform/shell.h"
#include "platform/window_messages.h"
#include "platform/windows_api.h"
#include "wardex/message_dialog.h"

namespace wardex::console::win {

// The system's names that windows_api.h leaves to the platform layer.
using platform::IDCANCEL;
using platform::IDOK;
using platform::MF_GRAYED;
using platform::MF_STRING;
using platform::WM_APP;
using platform::WM_COMMAND;
using platform::WM_TIMER;
using platform::WM_USER;

// |text| (UTF-8) as Windows shows it; with |crlf| every line break becomes
// "\r\n", as edit controls want.
std::wstring Wide(const std::string& text, bool crlf = false);

// A hidden dialog from the empty template, under |parent| (HWND_MESSAGE
// makes a message-only one); its procedure gets |param| with WM_INITDIALOG.
HWND CreateEmptyDialog(HWND parent, DLGPROC procedure, LPARAM param);

// The window's part of a dialog: the object lives as long as its window and
// deletes itself when the window goes.
class ConsoleDialog {
 public:
  virtual ~ConsoleDialog();
  ConsoleDialog(const ConsoleDialog&) = delete;
  ConsoleDialog& operator=(const ConsoleDialog&) = delete;

  HWND hwnd() const { return hwnd_; }
  // Called as the window goes, before the object is deleted.
  std::function<void()> on_destroyed;
  // A page window takes the title the agent's texts make now.
  virtual void Retitle(const ConsoleTexts& /*texts*/) {}

 protected:
  ConsoleDialog() = default;
  // Makes the (hidden) window; false when it cannot be made.
  bool Create(const std::wstring& title);
  // Sizes the window to a client area of |width| x |height| pixels, centres
  // it on the work area and shows it in front; a shown window keeps its place.
  void Show(int width, int height);
  // A command from a control, Enter (the default button's id) or Escape
  // (IDCANCEL); false leaves it to the system.
  virtual bool OnCommand(int id, int code) = 0;
  virtual void OnTimer(UINT_PTR /*timer*/) {}

  // Pixels of |dlu| horizontal or vertical dialog units.
  int X(int dlu) const;
  int Y(int dlu) const;
  // The dialog's font, and other forms of it (|percent| of its size).
  HFONT font() const;
  HFONT Font(bool bold, bool italic = false, bool underline = false, int percent = 100);
  // The height of |text| wrapped at |width| pixels in |font|.
  int TextHeight(const std::wstring& text, int width, HFONT font) const;
  int TextWidth(const std::wstring& text, HFONT font) const;
  // TextHeight up to |max_height|; a text over 2,000 characters gets all of
  // it unmeasured, as wrapping 20 KB costs Wine seconds.
  int TextHeightUpTo(const std::wstring& text, int width, HFONT font, int max_height) const;
  // A child control of |window_class| at (x, y), w x h pixels, in |font|
  // (the dialog's when null).
  HWND Add(const wchar_t* window_class, const std::wstring& text, DWORD style, RECT where,
           int id = 0, HFONT font = nullptr, DWORD ex_style = 0);
  // The largest client height that fits the work area with the frame.
  int MaxClientHeight() const;

  // Push buttons (title, id) in rows of up to four, each row ending at
  // |right|, from |y| down; a long title is cut. The first is the default
  // and has the focus. ButtonsSize gives the width of the widest row and the
  // height of the rows.
  using Buttons = std::vector<std::pair<std::wstring, int>>;
  std::vector<HWND> AddButtons(const Buttons& buttons, int y, int right);
  SIZE ButtonsSize(const Buttons& buttons) const;

 private:
  int ButtonWidth(const std::wstring& title) const;
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

  HWND hwnd_ = nullptr;
  std::map<int, HFONT> fonts_;  // the derived fonts, by their form
};

// Standard spacing, in dialog units.
inline constexpr int kMargin = 7;
inline constexpr int kGap = 4;
inline constexpr int kButtonWidth = 50;
inline constexpr int kButtonHeight = 14;
inline constexpr int kLineHeight = 8;
inline constexpr int kCheckBoxIndent = 12;

}  // namespace wardex::console::win
