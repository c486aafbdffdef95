#include "win/window_layout.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "osal/wide_format.h"

namespace wardex::console::win {
namespace {

// The dialog template of every Console window: no controls, the shell's
// dialog font. A DLGTEMPLATE is followed by the menu, class and title
// arrays (empty here), then the point size and the face name.
struct EmptyTemplate {
  DLGTEMPLATE header;
  WORD menu = 0;
  WORD window_class = 0;
  WORD title = 0;
  WORD point_size = 8;
  wchar_t face[15] = L"MS Shell Dlg 2";
};

// The module these windows belong to: the one that holds this object.
const char kInThisModule = 0;
HINSTANCE ThisModule();

// Button titles are cut here; rows hold this many buttons, so that a dialog
// with many stays within the screen.
constexpr size_t kButtonTitleChars = 24;
constexpr size_t kButtonsPerRow = 4;
constexpr int kMaxButtonWidth = 100;

// |title| cut to kButtonTitleChars, with an ellipsis where it was cut.
std::wstring ButtonTitle(const std::wstring& title) {
  if (title.size() <= kButtonTitleChars) return title;
  return title.substr(0, kButtonTitleChars - 1) + L"\u2026";
}

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&kInThisModule), &module);
  return module;
}

}  // namespace

HWND CreateEmptyDialog(HWND parent, DLGPROC procedure, LPARAM param) {
  EmptyTemplate empty{};
  empty.header.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME |
                       DS_SETFONT | DS_FIXEDSYS | DS_SHELLFONT;
  empty.header.dwExtendedStyle = WS_EX_CONTROLPARENT | WS_EX_APPWINDOW;
  return CreateDialogIndirectParamW(ThisModule(), &empty.header, parent, procedure, param);
}

std::wstring Wide(const std::string& text, bool crlf) {
  const std::u16string wide = KaOSAL::FromUtf8(text);
  std::wstring out;
  out.reserve(wide.size());
  for (const char16_t c : wide) {
    if (crlf && c == u'\n' && (out.empty() || out.back() != L'\r')) out += L'\r';
    out += static_cast<wchar_t>(c);
  }
  return out;
}

ConsoleDialog::~ConsoleDialog() {
  for (const auto& [form, font] : fonts_) DeleteObject(font);
}

bool ConsoleDialog::Create(const std::wstring& title) {
  hwnd_ = CreateEmptyDialog(nullptr, DialogProc, reinterpret_cast<LPARAM>(this));
  if (hwnd_ == nullptr) return false;
  SetWindowTextW(hwnd_, title.c_str());
  return true;
}

void ConsoleDialog::Show(int width, int height) {
  RECT frame = {0, 0, width, height};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_EXSTYLE)));
  const int frame_width = frame.right - frame.left;
  const int frame_height = frame.bottom - frame.top;
  // A window shown already keeps its place: its content changed.
  if (IsWindowVisible(hwnd_)) {
    SetWindowPos(hwnd_, nullptr, 0, 0, frame_width, frame_height, SWP_NOMOVE | SWP_NOZORDER);
    InvalidateRect(hwnd_, nullptr, TRUE);
    return;
  }
  RECT work = {};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int left = work.left + std::max(0L, (work.right - work.left - frame_width) / 2);
  const int top = work.top + std::max(0L, (work.bottom - work.top - frame_height) / 2);
  SetWindowPos(hwnd_, HWND_TOP, left, top, frame_width, frame_height, SWP_SHOWWINDOW);
  SetForegroundWindow(hwnd_);
}

int ConsoleDialog::X(int dlu) const {
  RECT rect = {0, 0, dlu, 0};
  MapDialogRect(hwnd_, &rect);
  return rect.right;
}

int ConsoleDialog::Y(int dlu) const {
  RECT rect = {0, 0, 0, dlu};
  MapDialogRect(hwnd_, &rect);
  return rect.bottom;
}

HFONT ConsoleDialog::font() const {
  return reinterpret_cast<HFONT>(SendMessageW(hwnd_, WM_GETFONT, 0, 0));
}

HFONT ConsoleDialog::Font(bool bold, bool italic, bool underline, int percent) {
  const int form = (bold ? 1 : 0) | (italic ? 2 : 0) | (underline ? 4 : 0) | (percent << 3);
  if (form == 100 << 3) return font();
  if (const auto known = fonts_.find(form); known != fonts_.end()) return known->second;
  LOGFONTW description = {};
  GetObjectW(font(), sizeof(description), &description);
  if (bold) description.lfWeight = FW_BOLD;
  description.lfItalic = italic ? TRUE : FALSE;
  description.lfUnderline = underline ? TRUE : FALSE;
  description.lfHeight = MulDiv(description.lfHeight, percent, 100);
  HFONT made = CreateFontIndirectW(&description);
  if (made == nullptr) return font();
  fonts_[form] = made;
  return made;
}

int ConsoleDialog::TextHeight(const std::wstring& text, int width, HFONT font) const {
  HDC dc = GetDC(hwnd_);
  HGDIOBJ old = SelectObject(dc, font);
  RECT rect = {0, 0, width, 0};
  // An empty text still takes a line, as its control does.
  DrawTextW(dc, text.empty() ? L" " : text.c_str(), -1, &rect,
            DT_CALCRECT | DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX);
  SelectObject(dc, old);
  ReleaseDC(hwnd_, dc);
  return rect.bottom;
}

int ConsoleDialog::TextHeightUpTo(const std::wstring& text, int width, HFONT font,
                                  int max_height) const {
  constexpr size_t kMeasuredChars = 2000;
  if (text.size() > kMeasuredChars) return max_height;
  return std::min(TextHeight(text, width, font), max_height);
}

int ConsoleDialog::TextWidth(const std::wstring& text, HFONT font) const {
  HDC dc = GetDC(hwnd_);
  HGDIOBJ old = SelectObject(dc, font);
  SIZE size = {};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(hwnd_, dc);
  return size.cx;
}

HWND ConsoleDialog::Add(const wchar_t* window_class, const std::wstring& text, DWORD style,
                        RECT where, int id, HFONT font, DWORD ex_style) {
  HWND control = CreateWindowExW(
      ex_style, window_class, text.c_str(), WS_CHILD | WS_VISIBLE | style, where.left, where.top,
      where.right - where.left, where.bottom - where.top, hwnd_,
      reinterpret_cast<HMENU>(static_cast<intptr_t>(id)), ThisModule(), nullptr);
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font ? font : this->font()), FALSE);
  return control;
}

int ConsoleDialog::MaxClientHeight() const {
  RECT work = {};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  RECT frame = {0, 0, 100, 100};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_EXSTYLE)));
  return (work.bottom - work.top) - ((frame.bottom - frame.top) - 100);
}

int ConsoleDialog::ButtonWidth(const std::wstring& title) const {
  return std::clamp(TextWidth(ButtonTitle(title), font()) + X(10), X(kButtonWidth),
                    X(kMaxButtonWidth));
}

SIZE ConsoleDialog::ButtonsSize(const Buttons& buttons) const {
  SIZE size = {0, 0};
  for (size_t first = 0; first < buttons.size(); first += kButtonsPerRow) {
    int width = -X(kGap);
    for (size_t i = first; i < std::min(buttons.size(), first + kButtonsPerRow); ++i)
      width += ButtonWidth(buttons[i].first) + X(kGap);
    size.cx = std::max<LONG>(size.cx, width);
    size.cy += (first == 0 ? 0 : Y(kGap)) + Y(kButtonHeight);
  }
  return size;
}

std::vector<HWND> ConsoleDialog::AddButtons(const Buttons& buttons, int y, int right) {
  std::vector<HWND> made;
  for (size_t first = 0; first < buttons.size(); first += kButtonsPerRow) {
    const size_t end = std::min(buttons.size(), first + kButtonsPerRow);
    int x = right + X(kGap);
    for (size_t i = first; i < end; ++i) x -= ButtonWidth(buttons[i].first) + X(kGap);
    for (size_t i = first; i < end; ++i) {
      const int width = ButtonWidth(buttons[i].first);
      made.push_back(Add(L"BUTTON", ButtonTitle(buttons[i].first),
                         (i == 0 ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON) | WS_TABSTOP,
                         {x, y, x + width, y + Y(kButtonHeight)}, buttons[i].second));
      x += width + X(kGap);
    }
    y += Y(kButtonHeight) + Y(kGap);
  }
  if (!made.empty()) {
    SendMessageW(hwnd_, DM_SETDEFID, static_cast<WPARAM>(buttons.front().second), 0);
    SendMessageW(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(made.front()), TRUE);
  }
  return made;
}

INT_PTR CALLBACK ConsoleDialog::DialogProc(HWND window, UINT message, WPARAM wparam,
                                           LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(window, DWLP_USER, lparam);
    reinterpret_cast<ConsoleDialog*>(lparam)->hwnd_ = window;
    return FALSE;  // the focus is set when the controls are there
  }
  auto* self = reinterpret_cast<ConsoleDialog*>(GetWindowLongPtrW(window, DWLP_USER));
  if (self == nullptr) return FALSE;
  switch (message) {
    case WM_COMMAND:
      return self->OnCommand(LOWORD(wparam), HIWORD(wparam)) ? TRUE : FALSE;
    case WM_TIMER:
      self->OnTimer(wparam);
      return TRUE;
    case WM_NCDESTROY:
      SetWindowLongPtrW(window, DWLP_USER, 0);
      if (self->on_destroyed) self->on_destroyed();
      delete self;
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace wardex::console::win
