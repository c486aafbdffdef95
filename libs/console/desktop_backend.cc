#include "desktop_backend.h"

#include <algorithm>
#include <utility>

#include "osal/error_text.h"
#include "osal/wide_format.h"

#include "wardex/crashlog.h"

namespace wardex::console {
namespace {

// How long the news-feed thread waits for the desktop to take an item.
constexpr uint32_t kNewsAnswerLimitMs = 10000;

// The Console's texts in the language files, section [ConsoleModule].
constexpr const char16_t* kConsoleTextKeys[] = {
    u"CONSOLE_INFO_TITLE",     u"CONSOLE_INFO_EDITION",      u"CONSOLE_INFO_VERSION",
    u"CONSOLE_INFO_COMPUTER",  u"CONSOLE_INFO_LOG",          u"CONSOLE_INFO_MODULES",
    u"CONSOLE_SETTINGS_TITLE", u"CONSOLE_SETTINGS_LANGUAGE", u"CONSOLE_SETTINGS_LOGON",
    u"CONSOLE_SETTINGS_NEWS",  u"CONSOLE_SETTINGS_NOTE",     u"CONSOLE_QUICK_CHECK_TITLE",
    u"CONSOLE_MENU",           u"CONSOLE_BUTTON_CLOSE",      u"CONSOLE_BUTTON_SAVE",
    u"CONSOLE_BUTTON_CANCEL",
};

// The message dialog's icon that the Console shows as an error.
constexpr int32_t kErrorIcon = 4;

std::string ItemText(const KaOSAL::KaString& text) { return ProtocolText(text, kMaxItemTextBytes); }

}  // namespace
DesktopBackend::DesktopBackend(const OpenWindows& open_windows)
    : windows_(open_windows([this](const ConsoleMessage& event) { OnEvent(event); })) {}

void DesktopBackend::ShowNotification(const KaOSAL::KaString& title, const KaOSAL::KaString& text,
                                      int32_t seconds, const KaOSAL::KaString& button_title,
                                      const KaOSAL::KaString& button_command_line) {
  IConsoleHost* host = host_.load();
  if (host == nullptr) {
    headless_.ShowNotification(title, text, seconds, button_title, button_command_line);
    return;
  }
  ConsoleNotification notification;
  notification.title = title;
  notification.text = text;
  notification.seconds = seconds;
  notification.button_title = button_title;
  notification.command_line = button_command_line;
  static_cast<void>(host->ShowNotification(notification, 0));
  LogW(kLogInfo, u"CONSOLE: notification \"%s\" handed to the desktop (%d s)", title.c_str(),
       seconds);
}

void DesktopBackend::ShowDialog(MessageDialog dialog) { windows_->ShowDialog(std::move(dialog)); }

bool DesktopBackend::ShowNews(const NewsItem& item) {
  IConsoleHost* host = host_.load();
  ConsoleNotification notification;
  notification.title = item.title;
  notification.text = item.text;
  if (item.kind == kNewsItemWithPicture) notification.picture = KaOSAL::KaString(item.picture);
  notification.link = item.link;
  // The item's command line is not offered: a link is what a desktop opens.
  if (!item.link.IsEmpty())
    notification.button_title = item.button_text.IsEmpty() ? u"Open" : item.button_text;
  // Without the host the agent is closing: nobody sees the item.
  const bool shown = host != nullptr && host->ShowNotification(notification, kNewsAnswerLimitMs);
  LogW(kLogInfo, u"CONSOLE: news \"%s\" %S", item.title.c_str(),
       shown ? "shown" : "not shown: the desktop did not take it");
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
    sent = windows_->Send(info);
  } else {
    const AgentSettings settings = host->ReadSettings();
    ShowSettingsMessage message;
    message.language = ItemText(settings.language);
    for (const LanguageChoice& language : settings.languages) {
      if (message.languages.size() == kMaxListEntries) break;
      message.languages.push_back({ItemText(language.code), ItemText(language.name)});
    }
    message.start_at_logon = settings.start_at_logon;
    message.news = settings.news;
    sent = windows_->Send(message);
  }
  LogW(sent ? kLogInfo : kLogError, u"CONSOLE: %S window %S",
       page == ConsolePage::kInfo ? "information" : "settings",
       sent ? "sent to the Console" : "not sent: the Console is busy or closing");
}

ModuleViewRegistration DesktopBackend::ShowModuleView(IConsoleView* view, int32_t mode) {
  auto* model = dynamic_cast<IModuleViewModel*>(view);
  IConsoleHost* host = host_.load();
  if (model == nullptr || host == nullptr) return headless_.ShowModuleView(view, mode);
  WARDEX_DCHECK_ON_THREAD(frame_thread_);
  SendTexts(false);
  std::vector<MenuEntry> menu;
  for (const ConsoleMenuEntry& entry : host->MenuEntries()) {
    if (menu.size() == kMaxDialogButtons) break;
    menu.push_back({entry.command, ItemText(entry.title), entry.enabled});
  }
  ForgetWithdrawnViews();
  // A view still shown keeps its window (and id); any other gets a new id,
  // so that no window ever shows another view than its own.
  auto shown = std::find_if(views_.begin(), views_.end(),
                            [model](const auto& entry) { return entry.second.link->Shows(model); });
  if (shown != views_.end()) {
    shown->second.link->AddRegistration();
  } else {
    ShownView fresh;
    fresh.link.reset(new ModuleViewLink(model));
    shown = views_.emplace(windows_->NextId(), std::move(fresh)).first;
  }
  ModuleViewRegistration registration(shown->second.link.get());
  shown->second.sent.menu = std::move(menu);
  if (!SendView(shown->first))
    LogW(kLogError, u"CONSOLE: module view not sent: the Console is busy");
  return registration;
}

void DesktopBackend::Refresh() {
  headless_.Refresh();
  SendTexts(true);
}

void DesktopBackend::SetHost(IConsoleHost* host) {
  if (host != nullptr) frame_thread_.Bind();
  host_.store(host);
}

void DesktopBackend::RunScheduled() {
  WARDEX_DCHECK_ON_THREAD(frame_thread_);
  std::vector<ViewButtonPressed> presses;
  {
    std::lock_guard<std::mutex> hold(lock_);
    presses.swap(presses_);
  }
  for (const ViewButtonPressed& pressed : presses) {
    const auto shown = views_.find(pressed.view_id);
    const bool delivered =
        shown != views_.end() && shown->second.link->With([&](IModuleViewModel& model) {
          LogW(kLogInfo, u"CONSOLE: button %d of module view %u", pressed.button_id,
               pressed.view_id);
          model.OnViewButton(pressed.button_id);
        });
    if (delivered) {
      static_cast<void>(SendView(pressed.view_id));
    } else {
      LogW(kLogInfo, u"CONSOLE: button %d of module view %u ignored: the view was withdrawn",
           pressed.button_id, pressed.view_id);
    }
  }
  ForgetWithdrawnViews();
}

void DesktopBackend::ForgetWithdrawnViews() {
  for (auto shown = views_.begin(); shown != views_.end();) {
    if (shown->second.link->shown()) {
      ++shown;
      continue;
    }
    ShowViewMessage& last = shown->second.sent;
    if (last.view_id != 0) {
      for (ViewButtonData& button : last.buttons) button.enabled = false;
      static_cast<void>(windows_->Send(last));
    }
    shown = views_.erase(shown);
  }
}

void DesktopBackend::SendTexts(bool again) {
  IConsoleHost* host = host_.load();
  if (host == nullptr) return;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (texts_known_ && !again) return;
    texts_known_ = true;
  }
  SetTexts texts;
  texts.product_name = ItemText(host->ConsoleText(u"CONSOLE_PRODUCT_NAME"));
  for (const char16_t* key : kConsoleTextKeys) {
    const KaOSAL::KaString value = host->ConsoleText(key);
    if (!value.IsEmpty()) texts.texts.push_back({ItemText(KaOSAL::KaString(key)), ItemText(value)});
  }
  // Every window needs them: a Console process started after this one ended
  // gets them first.
  windows_->SetStartMessage(texts);
}

bool DesktopBackend::SendView(uint32_t id) {
  ShownView& shown = views_.at(id);
  ViewModel described;
  if (!shown.link->With([&](IModuleViewModel& model) { described = model.DescribeView(); }))
    return false;
  ShowViewMessage& message = shown.sent;
  message.view_id = id;
  message.title = ItemText(described.title);
  message.rows.clear();
  for (const ViewRow& row : described.rows) {
    if (message.rows.size() == kMaxListEntries) break;
    message.rows.push_back({ItemText(row.label), ItemText(row.value), row.progress});
  }
  message.buttons.clear();
  for (const ViewButton& button : described.buttons) {
    if (message.buttons.size() == kMaxDialogButtons) break;
    message.buttons.push_back({button.id, ItemText(button.title), button.enabled});
  }
  LogW(kLogInfo, u"CONSOLE: module view %u \"%s\" with %u rows sent to the Console", id,
       described.title.c_str(), static_cast<unsigned>(message.rows.size()));
  return windows_->Send(message);
}

void DesktopBackend::OnEvent(const ConsoleMessage& event) {
  IConsoleHost* host = host_.load();
  if (const auto* pressed = std::get_if<ViewButtonPressed>(&event)) {
    // Module views are called on the frame's thread only.
    if (host == nullptr) return;
    {
      std::lock_guard<std::mutex> hold(lock_);
      presses_.push_back(*pressed);
    }
    host->ScheduleOnFrame();
  } else if (const auto* command = std::get_if<MenuCommandChosen>(&event)) {
    LogW(kLogInfo, u"CONSOLE: menu command 0x%04X chosen in the Console", command->command);
    if (host != nullptr) host->RunMenuCommand(command->command);
  } else if (const auto* chosen = std::get_if<SettingsChosen>(&event)) {
    if (host == nullptr) return;
    AgentSettings settings;
    settings.language = KaOSAL::KaString(KaOSAL::FromUtf8(chosen->language).c_str());
    settings.start_at_logon = chosen->start_at_logon;
    settings.news = chosen->news;
    const std::vector<UnsavedSetting> unsaved = host->WriteSettings(settings);
    LogW(unsaved.empty() ? kLogInfo : kLogError,
         u"CONSOLE: settings %S (language %s, start at logon %d, news %d)",
         unsaved.empty() ? "saved" : "not all saved", settings.language.c_str(),
         settings.start_at_logon ? 1 : 0, settings.news ? 1 : 0);
    if (!unsaved.empty()) ShowUnsaved(*host, unsaved);
  }
}

void DesktopBackend::ShowUnsaved(IConsoleHost& host, const std::vector<UnsavedSetting>& unsaved) {
  // Each under the label the settings window gave it.
  static constexpr struct {
    const char16_t* key;
    const char16_t* fallback;
  } kLabels[] = {{u"CONSOLE_SETTINGS_LANGUAGE", u"Language"},
                 {u"CONSOLE_SETTINGS_LOGON", u"Start at logon"},
                 {u"CONSOLE_SETTINGS_NEWS", u"Show the daily news"}};
  auto text = [&host](const char16_t* key, const char16_t* fallback) {
    const KaOSAL::KaString value = host.ConsoleText(key);
    return value.IsEmpty() ? KaOSAL::KaString(fallback) : value;
  };
  MessageDialog dialog;
  dialog.header = text(u"CONSOLE_SETTINGS_NOT_SAVED", u"Settings not saved");
  dialog.icon = kErrorIcon;
  MessageDialogButton close;
  close.title = text(u"CONSOLE_BUTTON_CLOSE", u"Close");
  dialog.buttons.push_back(close);
  for (const UnsavedSetting& setting : unsaved) {
    const auto& label = kLabels[static_cast<size_t>(setting.which)];
    std::u16string why;
    KaOSAL::KaString reason;
    if (KaOSAL::GetErrorText(setting.error, why)) {
      reason = why.c_str();
      reason.TrimRight();
    } else {
      reason.Format(u"error %lu", static_cast<unsigned long>(setting.error));
    }
    KaOSAL::KaString entry;
    entry.Format(u"%s%s\n%s: %s", dialog.message.IsEmpty() ? u"" : u"\n\n",
                 text(label.key, label.fallback).c_str(), setting.place.c_str(), reason.c_str());
    dialog.message += entry;
    LogW(kLogError, u"CONSOLE: setting %s not saved in %s: %s (%lu)", label.fallback,
         setting.place.c_str(), reason.c_str(), static_cast<unsigned long>(setting.error));
  }
  windows_->ShowDialog(std::move(dialog));
}

}  // namespace wardex::console
