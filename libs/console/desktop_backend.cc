#include "desktop_backend.h"

#include <utility>

#include "wardex/crashlog.h"

namespace wardex::console {
DesktopBackend::DesktopBackend(ConsoleChannel::Options options)
    : channel_(std::move(options), [](uint32_t id) {
        LogW(kLogInfo, u"CONSOLE: the button of notification %u was clicked", id);
      }) {}

void DesktopBackend::ShowNotification(const KaOSAL::KaString& title, const KaOSAL::KaString& text,
                                      int32_t seconds, const KaOSAL::KaString& button_title,
                                      const KaOSAL::KaString& button_command_line) {
  ShowNotificationMessage message;
  message.id = channel_.NextId();
  message.title = ProtocolText(title);
  message.text = ProtocolText(text);
  message.seconds = seconds;
  message.button_title = ProtocolText(button_title);
  message.command_line = ProtocolText(button_command_line);
  if (channel_.Send(message)) {
    LogW(kLogInfo, u"CONSOLE: notification %u \"%s\" sent to the Console (%d s)", message.id,
         title.c_str(), seconds);
  } else {
    LogW(kLogError, u"CONSOLE: notification \"%s\" not sent: the Console is busy or closing",
         title.c_str());
  }
}

void DesktopBackend::ShowDialog(MessageDialog dialog) { channel_.ShowDialog(std::move(dialog)); }

bool DesktopBackend::ShowNews(const NewsItem& item) { return headless_.ShowNews(item); }

void DesktopBackend::OpenPage(ConsolePage page) { headless_.OpenPage(page); }

void DesktopBackend::ShowModuleView(const void* view, int32_t mode) {
  headless_.ShowModuleView(view, mode);
}

void DesktopBackend::Refresh() { headless_.Refresh(); }

}  // namespace wardex::console
