// The shell backend for a machine without a desktop: nothing is shown, every
// icon call succeeds, and the icon's state and each balloon are logged.
#pragma once

#include <map>
#include <mutex>

#include "platform/shell.h"

namespace wardex::platform {

class HeadlessShell : public ShellBackend {
 public:
  bool NotifyIcon(uint32_t message, const NOTIFYICONDATAW& data) override;
  uint32_t TrackPopupMenu(const Menu& popup, HWND owner) override;
  int MessageBox(HWND owner, const KaOSAL::KaString& text, const KaOSAL::KaString& caption,
                 uint32_t type) override;

 private:
  std::mutex mutex_;
  std::map<UINT, NOTIFYICONDATAW> icons_;  // by icon id
};

}  // namespace wardex::platform
