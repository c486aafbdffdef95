// Log lines in the systemd journal, for machines that run it.
#pragma once

#include <string_view>

namespace wardex::crashlog {

// The syslog priority of a log level: errors (up to 3) LOG_ERR, notable
// events and warnings (4-6) LOG_WARNING, information (7, 8) LOG_INFO, failed
// system calls (9) LOG_WARNING, task-scheduler steps (10-12) LOG_INFO, the
// start-up and shut-down trace (13 and above) LOG_DEBUG.
[[nodiscard]] int JournalPriority(int level);

// Sends the text with its priority and the level as WARDEX_LOG_LEVEL.
void SendToJournal(int level, std::string_view text);

}  // namespace wardex::crashlog
