#include "log_line.h"

#include <cstdio>
#include <cstdlib>

#include "osal/wide_format.h"
#include "this_process.h"

namespace wardex::crashlog {

bool LevelEnabled(int level) {
  const char* value = getenv(kLogLevelVariable);
  if (value == nullptr || *value == '\0') return true;
  char* end = nullptr;
  long highest = strtol(value, &end, 10);
  if (*end != '\0') return true;
  return level <= highest;
}

std::string FormatLogText(const char16_t* format, va_list args) {
  std::u16string wide;
  if (format != nullptr) KaOSAL::AppendFormatV(wide, format, args);
  std::string text = KaOSAL::ToUtf8(wide);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

std::string BuildLogLine(int level, std::string_view text) {
  const LocalTime now = LocalTimeNow();
  char prefix[80];
  int length = snprintf(prefix, sizeof(prefix), "%04d-%02d-%02d %02d:%02d:%02d.%03d [%d] %u ",
                        now.year, now.month, now.day, now.hour, now.minute, now.second,
                        now.millisecond, level, static_cast<unsigned>(CurrentThreadId()));
  std::string line;
  line.reserve(static_cast<size_t>(length) + text.size() + 1);
  line.append(prefix, static_cast<size_t>(length));
  line.append(text);
  line.push_back('\n');
  return line;
}

}  // namespace wardex::crashlog
