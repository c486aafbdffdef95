#include "platform/headless_shell.h"

#include "wardex/crashlog.h"

namespace wardex::platform {

namespace {

// The resource id of |icon| for the log, 0 for none.
uint32_t IconId(HICON icon) { return icon != nullptr ? icon->resource->id : 0; }

void LogIcon(const char16_t* what, const NOTIFYICONDATAW& icon) {
  LogW(kLogInfo, u"SHELL: icon %u %s: icon %u, tip \"%s\", %s", icon.uID, what, IconId(icon.hIcon),
       icon.szTip, (icon.dwState & NIS_HIDDEN) != 0 ? u"hidden" : u"visible");
}

}  // namespace

bool HeadlessShell::NotifyIcon(uint32_t message, const NOTIFYICONDATAW& data) {
  std::lock_guard lock(mutex_);
  switch (message) {
    case NIM_ADD:
    case NIM_MODIFY: {
      NOTIFYICONDATAW& icon = icons_[data.uID];
      if (message == NIM_ADD) icon = NOTIFYICONDATAW{};
      MergeNotifyIconData(data, &icon);
      LogIcon(message == NIM_ADD ? u"added" : u"changed", icon);
      if ((data.uFlags & NIF_INFO) != 0 && data.szInfo[0] != 0) {
        LogW(kLogInfo, u"SHELL: balloon on icon %u: \"%s\" \"%s\" (icon flags %u, %u ms)", data.uID,
             icon.szInfoTitle, icon.szInfo, icon.dwInfoFlags, icon.uTimeout);
      }
      return true;
    }
    case NIM_DELETE:
      icons_.erase(data.uID);
      LogW(kLogInfo, u"SHELL: icon %u removed", data.uID);
      return true;
    case NIM_SETFOCUS:
      LogW(kLogInfo, u"SHELL: icon %u focused", data.uID);
      return true;
    default:
      return true;
  }
}

uint32_t HeadlessShell::TrackPopupMenu(const Menu& popup, HWND /*owner*/) {
  LogW(kLogInfo, u"SHELL: no desktop to show the menu of %d items", popup.GetItemCount());
  return 0;
}

int HeadlessShell::MessageBox(HWND /*owner*/, const KaOSAL::KaString& text,
                              const KaOSAL::KaString& caption, uint32_t /*type*/) {
  LogW(kLogInfo, u"SHELL: message box \"%s\" \"%s\" answered Cancel", caption.c_str(),
       text.c_str());
  return IDCANCEL;
}

}  // namespace wardex::platform
