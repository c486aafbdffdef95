// The frame as the Console module's host: the facts of the information
// window, the settings the agent owns, the tray menu for the Console's
// windows, the menu's commands chosen there, and the Console's notifications.
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "app/autostart.h"
#include "app/main_frame.h"
#include "app/tray_texts.h"
#include "config/install_config.h"
#include "config/languages.h"
#include "config/module_path.h"
#include "config/profile_string.h"
#include "config/registry_settings.h"
#include "identity/computer_id.h"
#include "modules/module_library.h"
#include "online/newsfeed.h"
#include "osal/last_error.h"
#include "osal/wide_format.h"
#include "platform/product_version.h"
#include "platform/resources.h"
#include "platform/shell.h"
#include "wardex/crashlog.h"

namespace wardex {
namespace {

using KaOSAL::KaPath;
using KaOSAL::KaString;

// How often a wait for the desktop's answer looks whether the agent closes.
constexpr auto kNotificationWaitSlice = std::chrono::milliseconds(50);

// A menu text without its mnemonic marks: "&&" is an ampersand, a lone "&" goes.
KaString WithoutMnemonics(const KaString& text) {
  std::u16string plain;
  for (const char16_t* c = text.c_str(); *c != 0; ++c) {
    if (*c == u'&' && *(c + 1) == u'&') {
      plain += u'&';
      ++c;
    } else if (*c != u'&') {
      plain += *c;
    }
  }
  return KaString(plain.c_str());
}

// The settings as they are now; safe on any thread.
AgentSettings CurrentSettings() {
  AgentSettings settings;
  settings.language = ReadInstallConfig(u"install", u"Language", kNeutralLanguage);
  for (const LanguageFile& language : LanguagesPresent())
    settings.languages.push_back({language.code, language.name});
  settings.start_at_logon = AutostartInstalled(AutostartEntryName());
  CRegistrySettings product;
  settings.news = product.ReadDWord(kNewsfeedOffValueName, 0) == 0;
  return settings;
}

}  // namespace

AgentDescription CMainFrame::DescribeAgent() {
  WARDEX_DCHECK_ON_THREAD(frame_thread_);
  AgentDescription agent;
  agent.product_name = ReadProductName();
  // The edition as a person reads it, where the texts name it.
  const KaString edition = ReadInstallConfig(u"install", u"Module", u"");
  KaString key = u"CONSOLE_EDITION_";
  key += edition;
  agent.edition = ConsoleText(key.c_str());
  if (agent.edition.IsEmpty()) agent.edition = edition;
  agent.version = platform::kProductVersion;
  agent.computer_id = GetComputerID();
  char log_file[4096];
  if (GetLogFilePath(log_file, sizeof(log_file)) > 0) {
    agent.log_file = KaString(KaOSAL::FromUtf8(log_file).c_str());
  } else {
    agent.log_file = ConsoleText(u"CONSOLE_INFO_LOG_STDERR");
  }
  for (const TrustedLibrary& library : LoadedTrustedLibraries())
    agent.modules.push_back({KaPath(library.path).GetFileNameAndExt(), library.signer});
  const platform::AboutDialogTexts about = platform::GetAboutDialogTexts();
  agent.about = {about.product_line, about.copyright};
  return agent;
}

AgentSettings CMainFrame::ReadSettings() {
  WARDEX_DCHECK_ON_THREAD(frame_thread_);
  return CurrentSettings();
}

std::vector<UnsavedSetting> CMainFrame::WriteSettings(const AgentSettings& settings) {
  const AgentSettings now = CurrentSettings();
  std::vector<UnsavedSetting> unsaved;
  // Each write leaves its file or key as it was when it fails.
  auto check = [&unsaved](bool written, UnsavedSetting::Which which, const KaString& place) {
    if (!written) unsaved.push_back({which, place, KaOSAL::GetLastError()});
  };
  if (settings.language != now.language && !settings.language.IsEmpty()) {
    // Read again at the next start, as the operating system's language is.
    const KaString file = GetInstallConfigPath().ToString();
    check(WriteProfileString(u"install", u"Language", settings.language, file),
          UnsavedSetting::Which::kLanguage, file);
  }
  if (settings.start_at_logon != now.start_at_logon) {
    const KaString entry = AutostartEntryName();
    check(settings.start_at_logon ? InstallAutostart(entry, entry) : RemoveAutostart(entry),
          UnsavedSetting::Which::kStartAtLogon, entry);
  }
  if (settings.news != now.news) {
    CRegistrySettings product;
    check(product.WriteDWord(kNewsfeedOffValueName, settings.news ? 0 : 1),
          UnsavedSetting::Which::kNews,
          u"HKEY_LOCAL_MACHINE\\" + CRegistrySettings::ProductKeyPath());
  }
  return unsaved;
}

std::vector<ConsoleMenuEntry> CMainFrame::MenuEntries() {
  RefreshMenu();
  platform::Menu menu;
  std::vector<ConsoleMenuEntry> entries;
  if (!agent_.tray.GetTrayMenu(&menu)) return entries;
  for (const platform::Menu::Item& item : menu.items()) {
    if (item.separator || item.popup || item.command == kCommandSnapCheck) continue;
    const bool enabled = (item.state & (platform::MF_GRAYED | platform::MF_DISABLED)) == 0;
    entries.push_back({item.command, WithoutMnemonics(item.text), enabled});
  }
  return entries;
}

KaString CMainFrame::ConsoleText(const char16_t* key) {
  if (KaString(key) == u"CONSOLE_PRODUCT_NAME") return ReadProductName();
  return LookupText(key, u"ConsoleModule", true);
}

void CMainFrame::RunMenuCommand(uint32_t command) {
  platform::PostMessage(window_.load(), platform::WM_COMMAND, command, 0);
}

void CMainFrame::ScheduleOnFrame() {
  platform::PostMessage(window_.load(), kRunConsoleScheduledMessage, 0, 0);
}

bool CMainFrame::ShowNotification(const ConsoleNotification& notification, uint32_t wait_ms) {
  if (wait_ms == 0) {
    platform::ShowDesktopNotification(notification);
    return true;
  }
  // Shared with the shell, which may answer after this gave up waiting.
  auto answer = std::make_shared<std::promise<bool>>();
  std::future<bool> answered = answer->get_future();
  platform::ShowDesktopNotification(notification,
                                    [answer](bool taken) { answer->set_value(taken); });
  // Closing takes the Console back and waits for the threads inside it:
  // this wait ends then too.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  while (!agent_.console_access.closing() && std::chrono::steady_clock::now() < deadline) {
    if (answered.wait_for(kNotificationWaitSlice) == std::future_status::ready)
      return answered.get();
  }
  return false;
}

}  // namespace wardex
