#include "desktop_backend.h"

#include <utility>

#include "wardex/crashlog.h"

namespace wardex::console {
namespace {

// How long the news-feed thread waits for the Console to show an item.
constexpr auto kNewsAnswerLimit = std::chrono::seconds(10);

}  // namespace
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

bool DesktopBackend::ShowNews(const NewsItem& item) {
  ShowNewsMessage message;
  message.id = channel_.NextId();
  message.title = ProtocolText(item.title);
  message.text = ProtocolText(item.text);
  if (item.kind == kNewsItemWithPicture)
    message.picture = ProtocolText(KaOSAL::KaString(item.picture));
  message.link = ProtocolText(item.link);
  message.button_title = ProtocolText(item.button_text);
  const bool shown = channel_.ShowNews(message, kNewsAnswerLimit);
  LogW(kLogInfo, u"CONSOLE: news \"%s\" %S", item.title.c_str(),
       shown ? "shown" : "not shown: the Console did not show it");
  return shown;
}

void DesktopBackend::OpenPage(ConsolePage page) { headless_.OpenPage(page); }

void DesktopBackend::ShowModuleView(const void* view, int32_t mode) {
  headless_.ShowModuleView(view, mode);
}

void DesktopBackend::Refresh() { headless_.Refresh(); }

}  // namespace wardex::console
