// What the Console module asks of the agent that loaded it: the facts its
// information window shows, the settings the agent owns, the tray menu's
// commands for windows that carry them, the frame's thread for the Console's
// calls into module views, and the desktop notifications, which the agent
// shows and whose buttons it runs (it stays while the Console's process
// comes and goes). The agent hands its host to a view that
// implements IHostedConsole, right after CreateConsole, and takes it back
// (null) before DestroyConsole.
#pragma once

#include <cstdint>
#include <vector>

#include "osal/ka_string.h"
#include "wardex/export.h"

namespace wardex {

struct LoadedModule {
  KaOSAL::KaString file;    // the library's file name
  KaOSAL::KaString signer;  // its signature's signer, as the trust check read it
};

struct AgentDescription {
  KaOSAL::KaString product_name;
  KaOSAL::KaString edition;
  KaOSAL::KaString version;
  KaOSAL::KaString computer_id;
  KaOSAL::KaString log_file;  // where the log goes, for people
  std::vector<LoadedModule> modules;
  std::vector<KaOSAL::KaString> about;
};

struct LanguageChoice {
  KaOSAL::KaString code;
  KaOSAL::KaString name;  // as a person reads it
};

struct AgentSettings {
  KaOSAL::KaString language;              // the language code in use
  std::vector<LanguageChoice> languages;  // those of the language files present
  bool start_at_logon = false;
  bool news = true;  // the daily news item is shown
};

// A setting the agent could not save: which, where it is kept (a file or a
// registry key), and the Win32 code of the failure, whose text says why.
struct UnsavedSetting {
  enum class Which { kLanguage, kStartAtLogon, kNews };
  Which which = Which::kLanguage;
  KaOSAL::KaString place;
  uint32_t error = 0;
};

struct ConsoleMenuEntry {
  uint32_t command = 0;
  KaOSAL::KaString title;  // without mnemonic marks
  bool enabled = true;
};

// A desktop notification with at most one button.
struct ConsoleNotification {
  KaOSAL::KaString title;
  KaOSAL::KaString text;
  int32_t seconds = 0;            // 0: as long as the desktop likes
  KaOSAL::KaString picture;       // a local image file, or empty
  KaOSAL::KaString button_title;  // empty: no button
  KaOSAL::KaString command_line;  // what the button starts, or
  KaOSAL::KaString link;          // what it opens with the desktop's opener
};

class WARDEX_INTERFACE IConsoleHost {
 public:
  // On the frame's thread.
  virtual AgentDescription DescribeAgent() = 0;
  virtual AgentSettings ReadSettings() = 0;
  // The tray menu as it is now, without the quick-check entry.
  virtual std::vector<ConsoleMenuEntry> MenuEntries() = 0;
  // The Console's texts (keys CONSOLE_...) in the agent's language, with
  // their placeholders expanded; any thread.
  virtual KaOSAL::KaString ConsoleText(const char16_t* key) = 0;
  // From any thread. Writes what differs from the settings now, each on its
  // own: one the user may not change keeps none of the others from being
  // saved. Returns those that could not be written.
  virtual std::vector<UnsavedSetting> WriteSettings(const AgentSettings& settings) = 0;
  // Runs a tray menu command as the menu does (posted to the frame). Any thread.
  virtual void RunMenuCommand(uint32_t command) = 0;
  // Any thread: asks for a call of IHostedConsole::RunScheduled on the
  // frame's thread. Calls asked for while one is pending may be merged into
  // it; none comes once the host was taken back.
  virtual void ScheduleOnFrame() = 0;
  // Any thread: shows |notification|. With |wait_ms| 0 it returns at once,
  // true; else, off the frame's thread only, it waits up to |wait_ms|, and
  // not beyond the start of closing, and answers whether the desktop took it.
  virtual bool ShowNotification(const ConsoleNotification& notification, uint32_t wait_ms) = 0;

 protected:
  virtual ~IConsoleHost() = default;
};

// Implemented by a Console view that wants the agent's host.
class WARDEX_INTERFACE IHostedConsole {
 public:
  // On the frame's thread: |host| right after CreateConsole, null before
  // DestroyConsole. Once the host is taken back the Console ends its waits
  // for its process (a news item then counts as not shown), so that closing
  // never waits for a window.
  virtual void SetConsoleHost(IConsoleHost* host) = 0;
  // On the frame's thread, after ScheduleOnFrame: the Console's calls into
  // module views run here, one at a time.
  virtual void RunScheduled() = 0;

 protected:
  virtual ~IHostedConsole() = default;
};

}  // namespace wardex
