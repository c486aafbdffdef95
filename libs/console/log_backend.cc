#include "log_backend.h"

#include <utility>

#include "wardex/crashlog.h"

namespace wardex::console {

void LogBackend::ShowNotification(const KaOSAL::KaString& title, const KaOSAL::KaString& text,
                                  int32_t seconds, const KaOSAL::KaString& button_title,
                                  const KaOSAL::KaString& button_command_line) {
  if (button_title.IsEmpty()) {
    LogW(kLogInfo, u"CONSOLE: message \"%s\": \"%s\" (%d s)", title.c_str(), text.c_str(), seconds);
  } else {
    LogW(kLogInfo, u"CONSOLE: message \"%s\": \"%s\" (%d s, button \"%s\" runs \"%s\")",
         title.c_str(), text.c_str(), seconds, button_title.c_str(), button_command_line.c_str());
  }
}

void LogBackend::ShowDialog(MessageDialog dialog) {
  KaOSAL::KaString buttons;
  for (const MessageDialogButton& button : dialog.buttons) {
    KaOSAL::KaString entry;
    entry.Format(u"%s\"%s\"=%d", buttons.IsEmpty() ? u"" : u", ", button.title.c_str(),
                 button.value);
    buttons += entry;
  }
  LogW(kLogInfo, u"CONSOLE: dialog \"%s\": \"%s\" (buttons %s; %u check boxes; %u ms)",
       dialog.header.c_str(), dialog.message.c_str(), buttons.c_str(),
       static_cast<unsigned>(dialog.check_boxes.size()), dialog.show_time_ms);
  if (!DialogAnswerer::HasShowTime(dialog))
    LogW(kLogInfo, u"CONSOLE: the dialog has no show time; it stays open until the Console goes");
  if (!answerer_.Schedule(std::move(dialog)))
    LogW(kLogError, u"CONSOLE: the dialog cannot be answered");
}

bool LogBackend::ShowNews(const NewsItem& item) {
  LogW(kLogInfo, u"CONSOLE: news \"%s\": \"%s\" (link \"%s\", button \"%s\")", item.title.c_str(),
       item.text.c_str(), item.link.c_str(), item.button_text.c_str());
  return true;
}

void LogBackend::OpenPage(ConsolePage page) {
  LogW(kLogInfo, u"CONSOLE: %S page", page == ConsolePage::kSettings ? "settings" : "info");
}

ModuleViewRegistration LogBackend::ShowModuleView(IConsoleView* view, int32_t mode) {
  LogW(kLogInfo, u"CONSOLE: module view %p (mode %d)", static_cast<const void*>(view), mode);
  return {};
}

void LogBackend::Refresh() { LogW(kLogInfo, u"CONSOLE: refresh"); }

}  // namespace wardex::console
