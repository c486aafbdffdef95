// The notification data record's helpers, apart from the backends so that a
// backend in a library of its own can have them without the rest.
#include <cstring>

#include "platform/shell.h"

namespace wardex::platform {

void CopyToField(char16_t* field, int capacity, const char16_t* text) {
  int length = 0;
  if (text != nullptr) {
    while (length < capacity - 1 && text[length] != 0) ++length;
    std::memcpy(field, text, length * sizeof(char16_t));
  }
  field[length] = 0;
}

void MergeNotifyIconData(const NOTIFYICONDATAW& data, NOTIFYICONDATAW* icon) {
  icon->hWnd = data.hWnd;
  icon->uID = data.uID;
  if (data.uFlags & NIF_MESSAGE) icon->uCallbackMessage = data.uCallbackMessage;
  if (data.uFlags & NIF_ICON) icon->hIcon = data.hIcon;
  if (data.uFlags & NIF_TIP) CopyToField(icon->szTip, kTipLength, data.szTip);
  if (data.uFlags & NIF_STATE) {
    icon->dwState = (icon->dwState & ~data.dwStateMask) | (data.dwState & data.dwStateMask);
  }
  if (data.uFlags & NIF_INFO) {
    CopyToField(icon->szInfo, kInfoLength, data.szInfo);
    CopyToField(icon->szInfoTitle, kInfoTitleLength, data.szInfoTitle);
    icon->dwInfoFlags = data.dwInfoFlags;
    icon->uTimeout = data.uTimeout;
  }
}

}  // namespace wardex::platform
