#include "win/dialog_window.h"

#include <algorithm>
#include <cctype>
#include <sstream>
#include <string>
#include <utility>

namespace wardex::console::win {
namespace {

constexpr int kFirstButtonId = 100;
constexpr int kFirstCheckBoxId = 200;
constexpr UINT_PTR kShowTimer = 1;
// The texts wrap at this width (about 52 average characters) and a long
// message scrolls; the header shows at most three lines, a check box two.
constexpr int kTextWidth = 208;
constexpr int kMinMessageLines = 3;
constexpr int kMaxCheckBoxLines = 2;
constexpr int kMaxHeaderLines = 3;
constexpr size_t kLongestWrappedText = 4000;

// The system's icons (IDI_INFORMATION...) for the message dialog's icon kinds.
constexpr WORD IDI_INFORMATION_ID = 32516;
constexpr WORD IDI_QUESTION_ID = 32514;
constexpr WORD IDI_WARNING_ID = 32515;
constexpr WORD IDI_ERROR_ID = 32513;
const wchar_t* IconOf(int32_t icon) {
  switch (icon) {
    case 1:
      return MAKEINTRESOURCEW(IDI_INFORMATION_ID);
    case 2:
      return MAKEINTRESOURCEW(IDI_QUESTION_ID);
    case 3:
      return MAKEINTRESOURCEW(IDI_WARNING_ID);
    case 4:
      return MAKEINTRESOURCEW(IDI_ERROR_ID);
    default:
      return nullptr;
  }
}

// A style is a list of words ("bold italic large"); the words a label can
// show choose its font, the others are ignored.
struct TextStyle {
  bool bold = false;
  bool italic = false;
  bool underline = false;
  int percent = 100;
};
TextStyle ParseStyle(const std::string& style, bool bold_by_default) {
  TextStyle parsed;
  parsed.bold = bold_by_default;
  std::string words = style;
  std::replace_if(
      words.begin(), words.end(), [](char c) { return c == ',' || c == ';'; }, ' ');
  std::istringstream stream(words);
  for (std::string word; stream >> word;) {
    std::transform(word.begin(), word.end(), word.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (word == "bold") parsed.bold = true;
    if (word == "normal") parsed.bold = false;
    if (word == "italic") parsed.italic = true;
    if (word == "underline") parsed.underline = true;
    if (word == "large") parsed.percent = 120;
    if (word == "small") parsed.percent = 83;
  }
  return parsed;
}

}  // namespace

bool DialogWindow::Open(const ShowDialogMessage& message, AnswerHandler on_answer) {
  auto* dialog = new DialogWindow(message, std::move(on_answer));
  if (!dialog->Create(Wide(message.header))) {
    delete dialog;
    return false;
  }
  dialog->Build(message);
  return true;
}

DialogWindow::DialogWindow(const ShowDialogMessage& message, AnswerHandler on_answer)
    : id_(message.id), on_answer_(std::move(on_answer)) {
  for (const DialogButton& button : message.buttons) values_.push_back(button.value);
}

DialogWindow::~DialogWindow() {
  if (!answered_) on_answer_(MakeAnswer(kMessageDialogNoButton));
}

void DialogWindow::Build(const ShowDialogMessage& message) {
  const int margin_x = X(kMargin);
  const int margin_y = Y(kMargin);
  const int gap = Y(kGap);
  int left = margin_x;
  HICON icon = nullptr;
  if (const wchar_t* kind = IconOf(message.icon)) icon = LoadIconW(nullptr, kind);
  const int icon_size = GetSystemMetrics(SM_CXICON);
  if (icon != nullptr) left += icon_size + margin_x;
  // The texts widen with a wide row of buttons.
  Buttons buttons;
  for (const DialogButton& button : message.buttons)
    buttons.emplace_back(Wide(button.title), kFirstButtonId + static_cast<int>(buttons.size()));
  const SIZE buttons_size = ButtonsSize(buttons);
  const int buttons_height = buttons.empty() ? 0 : buttons_size.cy + margin_y;
  const int content_width =
      std::max<int>(left + X(kTextWidth) + margin_x, buttons_size.cx + 2 * margin_x);
  const int text_width = content_width - left - margin_x;

  // The heights first: the message gets what the rest leaves of the screen.
  const TextStyle caption = ParseStyle(message.caption_style, true);
  const TextStyle body = ParseStyle(message.message_style, false);
  HFONT caption_font = Font(caption.bold, caption.italic, caption.underline, caption.percent);
  HFONT message_font = Font(body.bold, body.italic, body.underline, body.percent);
  const std::wstring header = Wide(message.header);
  const std::wstring text = Wide(message.message, true);
  const int line = TextHeight(L"X", text_width, font());
  const int header_height =
      TextHeightUpTo(header, text_width, caption_font, kMaxHeaderLines * line);
  // Many check boxes take a line each, else up to two.
  const int check_width = text_width - X(kCheckBoxIndent);
  const int box_lines =
      message.check_boxes.size() > kMaxDialogCheckBoxes / 2 ? 1 : kMaxCheckBoxLines;
  std::vector<int> box_heights;
  int boxes_height = 0;
  for (const DialogCheckBox& box : message.check_boxes) {
    const int height =
        std::max(TextHeightUpTo(Wide(box.title), check_width, font(), box_lines * line), Y(10));
    box_heights.push_back(height);
    boxes_height += height + gap;
  }
  const int fixed = 2 * margin_y + header_height + gap + boxes_height + buttons_height;
  // What does not fit the screen scrolls, in a box of at least a few lines.
  const int room = std::max(MaxClientHeight() - fixed, kMinMessageLines * line);
  const int message_height = TextHeightUpTo(text, text_width, message_font, room);
  const bool scrolls = message_height == room;

  int y = margin_y;
  if (icon != nullptr)
    SendMessageW(Add(L"STATIC", L"", SS_ICON, {margin_x, y, margin_x + icon_size, y + icon_size}),
                 STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
  Add(L"STATIC", header, SS_NOPREFIX, {left, y, left + text_width, y + header_height}, 0,
      caption_font);
  y += header_height + gap;
  if (scrolls) {
    // Too long for the screen: it scrolls, and can be selected and copied.
    // Wine's edit control takes most of a minute to wrap 32 KB itself, so
    // long texts come broken into lines.
    const bool longest = text.size() > kLongestWrappedText;
    const int inside = text_width - GetSystemMetrics(SM_CXVSCROLL) - X(kGap);
    Add(L"EDIT", longest ? WrapLines(text, inside, message_font) : text,
        ES_MULTILINE | ES_READONLY | WS_VSCROLL | WS_TABSTOP | (longest ? ES_AUTOHSCROLL : 0),
        {left, y, left + text_width, y + message_height}, 0, message_font);
  } else {
    Add(L"STATIC", text, SS_NOPREFIX | SS_EDITCONTROL,
        {left, y, left + text_width, y + message_height}, 0, message_font);
  }
  y += message_height + gap;
  for (size_t i = 0; i < message.check_boxes.size(); ++i) {
    HWND box = Add(L"BUTTON", Wide(message.check_boxes[i].title),
                   BS_AUTOCHECKBOX | BS_MULTILINE | BS_TOP | WS_TABSTOP,
                   {left, y, left + text_width, y + box_heights[i]},
                   kFirstCheckBoxId + static_cast<int>(i));
    SendMessageW(box, BM_SETCHECK, message.check_boxes[i].checked ? BST_CHECKED : BST_UNCHECKED, 0);
    check_boxes_.push_back(box);
    y += box_heights[i] + gap;
  }
  y += margin_y - gap;
  AddButtons(buttons, y, content_width - margin_x);
  if (message.show_time_ms != 0) SetTimer(hwnd(), kShowTimer, message.show_time_ms, nullptr);
  Show(content_width, y + buttons_height);
}

std::wstring DialogWindow::WrapLines(const std::wstring& text, int width, HFONT font) const {
  // Each line is measured from a bounded piece, so the work grows with the
  // text, not with its square.
  constexpr size_t kPiece = 512;
  HDC dc = GetDC(hwnd());
  HGDIOBJ old = SelectObject(dc, font);
  std::wstring lines;
  for (size_t start = 0; start <= text.size();) {
    size_t end = std::min(text.find(L'\n', start), text.size());
    const size_t next = end + 1;
    if (end > start && text[end - 1] == L'\r') --end;
    do {
      int fit = 0;
      SIZE size = {};
      GetTextExtentExPointW(dc, text.data() + start,
                            static_cast<int>(std::min(end - start, kPiece)), width, &fit, nullptr,
                            &size);
      size_t line_end = std::min(end, start + static_cast<size_t>(std::max(fit, 1)));
      if (line_end < end) {
        const size_t space = text.rfind(L' ', line_end);
        if (space != std::wstring::npos && space > start) line_end = space + 1;
      }
      lines.append(text, start, line_end - start);
      lines += L"\r\n";
      start = line_end;
    } while (start < end);
    start = next;
  }
  SelectObject(dc, old);
  ReleaseDC(hwnd(), dc);
  return lines;
}

bool DialogWindow::OnCommand(int id, int code) {
  if (id == IDCANCEL) {
    Finish(kMessageDialogNoButton);
    return true;
  }
  const int index = id - kFirstButtonId;
  if (code == BN_CLICKED && index >= 0 && index < static_cast<int>(values_.size())) {
    Finish(values_[static_cast<size_t>(index)]);
    return true;
  }
  return false;
}

void DialogWindow::OnTimer(UINT_PTR timer) {
  if (timer == kShowTimer) Finish(kMessageDialogNoButton);
}

DialogAnswer DialogWindow::MakeAnswer(int32_t button) const {
  DialogAnswer answer;
  answer.id = id_;
  answer.button = button;
  for (HWND box : check_boxes_) {
    // Gone with the window: the answer keeps the boxes as given.
    if (!IsWindow(box)) return DialogAnswer{id_, button, {}};
    answer.checked.push_back(SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0);
  }
  return answer;
}

void DialogWindow::Finish(int32_t button) {
  if (answered_) return;
  answered_ = true;
  KillTimer(hwnd(), kShowTimer);
  on_answer_(MakeAnswer(button));
  DestroyWindow(hwnd());  // deletes this
}

}  // namespace wardex::console::win
