#include "desktop_backend.h"

#include <utility>

#include "osal/wide_format.h"

#include "wardex/crashlog.h"

namespace wardex::console {
namespace {

// How long the news-feed thread waits for the Console to show an item.
constexpr auto kNewsAnswerLimit = std::chrono::seconds(10);

// The Console's texts in the language files, section [ConsoleModule].
constexpr const char16_t* kConsoleTextKeys[] = {
    u"CONSOLE_INFO_TITLE",     u"CONSOLE_INFO_EDITION",      u"CONSOLE_INFO_VERSION",
    u"CONSOLE_INFO_COMPUTER",  u"CONSOLE_INFO_LOG",          u"CONSOLE_INFO_MODULES",
    u"CONSOLE_SETTINGS_TITLE", u"CONSOLE_SETTINGS_LANGUAGE", u"CONSOLE_SETTINGS_LOGON",
    u"CONSOLE_SETTINGS_NEWS",  u"CONSOLE_SETTINGS_NOTE",     u"CONSOLE_QUICK_CHECK_TITLE",
    u"CONSOLE_MENU",           u"CONSOLE_BUTTON_CLOSE",      u"CONSOLE_BUTTON_SAVE",
    u"CONSOLE_BUTTON_CANCEL",
};

std::string ItemText(const KaOSAL::KaString& text) { return ProtocolText(text, kMaxItemTextBytes); }

}  // namespace
DesktopBackend::DesktopBackend(ConsoleChannel::Options options)
    : channel_(std::move(options), [this](const ConsoleMessage& event) { OnEvent(event); }) {}

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

void DesktopBackend::OpenPage(ConsolePage page) {
  IConsoleHost* host = host_.load();
  if (host == nullptr) {
    headless_.OpenPage(page);
    return;
  }
  SendTexts(false);
  bool sent = false;
  if (page == ConsolePage::kInfo) {
    const AgentDescription agent = host->DescribeAgent();
    ShowInfoMessage info;
    info.product_name = ItemText(agent.product_name);
    info.edition = ItemText(agent.edition);
    info.version = ItemText(agent.version);
    info.computer_id = ItemText(agent.computer_id);
    info.log_file = ItemText(agent.log_file);
    for (const LoadedModule& module : agent.modules) {
      if (info.modules.size() == kMaxListEntries) break;
      info.modules.push_back({ItemText(module.file), ItemText(module.signer)});
    }
    for (const KaOSAL::KaString& about : agent.about) {
      if (info.about.size() == kMaxListEntries) break;
      info.about.push_back(ItemText(about));
    }
    sent = channel_.Send(info);
  } else {
    const AgentSettings settings = host->ReadSettings();
    ShowSettingsMessage message;
    message.language = ItemText(settings.language);
    for (const KaOSAL::KaString& language : settings.languages) {
      if (message.languages.size() == kMaxListEntries) break;
      message.languages.push_back(ItemText(language));
    }
    message.start_at_logon = settings.start_at_logon;
    message.news = settings.news;
    sent = channel_.Send(message);
  }
  LogW(sent ? kLogInfo : kLogError, u"CONSOLE: %S window %S",
       page == ConsolePage::kInfo ? "information" : "settings",
       sent ? "sent to the Console" : "not sent: the Console is busy or closing");
}

void DesktopBackend::ShowModuleView(IConsoleView* view, int32_t mode) {
  auto* model = dynamic_cast<IModuleViewModel*>(view);
  IConsoleHost* host = host_.load();
  if (model == nullptr) {
    headless_.ShowModuleView(view, mode);
    return;
  }
  SendTexts(false);
  std::vector<MenuEntry> menu;
  if (host != nullptr) {
    for (const ConsoleMenuEntry& entry : host->MenuEntries()) {
      if (menu.size() == kMaxDialogButtons) break;
      menu.push_back({entry.command, ItemText(entry.title), entry.enabled});
    }
  }
  uint32_t id = 0;
  {
    std::lock_guard<std::mutex> hold(lock_);
    const auto known = view_ids_.find(model);
    id = known != view_ids_.end() ? known->second : channel_.NextId();
    view_ids_[model] = id;
    views_[id] = ShownView{model, std::move(menu)};
  }
  if (!SendView(id)) LogW(kLogError, u"CONSOLE: module view not sent: the Console is busy");
}

void DesktopBackend::Refresh() {
  headless_.Refresh();
  SendTexts(true);
}

void DesktopBackend::SetHost(IConsoleHost* host) { host_.store(host); }

void DesktopBackend::SendTexts(bool again) {
  IConsoleHost* host = host_.load();
  if (host == nullptr) return;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (texts_sent_ && !again) return;
    texts_sent_ = true;
  }
  SetTexts texts;
  texts.product_name = ItemText(host->ConsoleText(u"CONSOLE_PRODUCT_NAME"));
  for (const char16_t* key : kConsoleTextKeys) {
    const KaOSAL::KaString value = host->ConsoleText(key);
    if (!value.IsEmpty()) texts.texts.push_back({ItemText(KaOSAL::KaString(key)), ItemText(value)});
  }
  static_cast<void>(channel_.Send(texts));
}

bool DesktopBackend::SendView(uint32_t id) {
  IModuleViewModel* model = nullptr;
  ShowViewMessage message;
  {
    std::lock_guard<std::mutex> hold(lock_);
    const auto shown = views_.find(id);
    if (shown == views_.end()) return false;
    model = shown->second.model;
    message.menu = shown->second.menu;
  }
  const ViewModel described = model->DescribeView();
  message.view_id = id;
  message.title = ItemText(described.title);
  for (const ViewRow& row : described.rows) {
    if (message.rows.size() == kMaxListEntries) break;
    message.rows.push_back({ItemText(row.label), ItemText(row.value), row.progress});
  }
  for (const ViewButton& button : described.buttons) {
    if (message.buttons.size() == kMaxDialogButtons) break;
    message.buttons.push_back({button.id, ItemText(button.title), button.enabled});
  }
  LogW(kLogInfo, u"CONSOLE: module view %u \"%s\" with %u rows sent to the Console", id,
       described.title.c_str(), static_cast<unsigned>(message.rows.size()));
  return channel_.Send(message);
}

void DesktopBackend::OnEvent(const ConsoleMessage& event) {
  IConsoleHost* host = host_.load();
  if (const auto* action = std::get_if<NotificationAction>(&event)) {
    LogW(kLogInfo, u"CONSOLE: the button of notification %u was clicked", action->id);
  } else if (const auto* pressed = std::get_if<ViewButtonPressed>(&event)) {
    IModuleViewModel* model = nullptr;
    {
      std::lock_guard<std::mutex> hold(lock_);
      const auto shown = views_.find(pressed->view_id);
      if (shown != views_.end()) model = shown->second.model;
    }
    if (model == nullptr) return;
    LogW(kLogInfo, u"CONSOLE: button %d of module view %u", pressed->button_id, pressed->view_id);
    model->OnViewButton(pressed->button_id);
    static_cast<void>(SendView(pressed->view_id));
  } else if (const auto* command = std::get_if<MenuCommandChosen>(&event)) {
    LogW(kLogInfo, u"CONSOLE: menu command 0x%04X chosen in the Console", command->command);
    if (host != nullptr) host->RunMenuCommand(command->command);
  } else if (const auto* chosen = std::get_if<SettingsChosen>(&event)) {
    if (host == nullptr) return;
    AgentSettings settings;
    settings.language = KaOSAL::KaString(KaOSAL::FromUtf8(chosen->language).c_str());
    settings.start_at_logon = chosen->start_at_logon;
    settings.news = chosen->news;
    const bool written = host->WriteSettings(settings);
    LogW(written ? kLogInfo : kLogError,
         u"CONSOLE: settings %S (language %s, start at logon %d, news %d)",
         written ? "saved" : "not all saved", settings.language.c_str(),
         settings.start_at_logon ? 1 : 0, settings.news ? 1 : 0);
  }
}

}  // namespace wardex::console
