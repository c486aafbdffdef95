#include "journal.h"

// The caller's file and line would always name this file.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <syslog.h>
#include <systemd/sd-journal.h>

namespace wardex::crashlog {

int JournalPriority(int level) {
  if (level <= 3) return LOG_ERR;
  if (level <= 6) return LOG_WARNING;
  if (level <= 8) return LOG_INFO;
  if (level == 9) return LOG_WARNING;
  if (level <= 12) return LOG_INFO;
  return LOG_DEBUG;
}

void SendToJournal(int level, std::string_view text) {
  // A journal that does not answer is no reason to fail a log call.
  (void)sd_journal_send("MESSAGE=%.*s", static_cast<int>(text.size()), text.data(), "PRIORITY=%d",
                        JournalPriority(level), "WARDEX_LOG_LEVEL=%d", level, nullptr);
}

}  // namespace wardex::crashlog
