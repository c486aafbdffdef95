#include "crash_report.h"

#include <atomic>
#include <forward_list>
#include <mutex>

#include "crash_report_parts.h"
#include "osal/civil_date.h"

namespace wardex::crashlog {
namespace {

std::atomic<const char*> g_report_dir{nullptr};
std::atomic<const char*> g_computer_id{""};

// Published texts are never freed: a crashing thread may still read one.
const char* KeepForever(const std::string& text) {
  static std::mutex* guard = new std::mutex;
  static auto* kept = new std::forward_list<std::string>;
  std::lock_guard lock(*guard);
  kept->push_front(text);
  return kept->front().c_str();
}

struct CivilTime {
  int64_t year;
  int month, day, hour, minute, second;
};

// The UTC calendar time of |seconds| since the epoch, computed by hand since
// gmtime_r is not async-signal-safe.
CivilTime ToCivil(int64_t seconds) {
  int64_t days = seconds / 86400;
  int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  const KaOSAL::CivilDate date = KaOSAL::CivilFromDays(days);
  return {date.year,
          static_cast<int>(date.month),
          static_cast<int>(date.day),
          static_cast<int>(rest / 3600),
          static_cast<int>(rest / 60 % 60),
          static_cast<int>(rest % 60)};
}

template <size_t N>
void AppendDate(FixedText<N>& text, const CivilTime& t, std::string_view date_separator,
                std::string_view middle, std::string_view time_separator) {
  text.AppendDecimal(t.year).Append(date_separator).AppendTwoDigits(t.month);
  text.Append(date_separator).AppendTwoDigits(t.day).Append(middle).AppendTwoDigits(t.hour);
  text.Append(time_separator).AppendTwoDigits(t.minute).Append(time_separator);
  text.AppendTwoDigits(t.second);
}

}  // namespace

void PublishReportDir(const std::string& dir) {
  g_report_dir.store(KeepForever(dir), std::memory_order_release);
}

void PublishComputerId(const std::string& computer_id) {
  g_computer_id.store(KeepForever(computer_id), std::memory_order_release);
}

const char* PublishedReportDir() { return g_report_dir.load(std::memory_order_acquire); }

void AppendReportFileName(ReportPath& path, const char* dir, char separator, int64_t utc_seconds,
                          uint32_t process_id, std::string_view extension) {
  path.Append(dir).Append(std::string_view(&separator, 1)).Append("crash-");
  AppendDate(path, ToCivil(utc_seconds), "", "-", "");
  path.Append("-").AppendDecimal(process_id).Append(extension);
}

void AppendReportHeading(ReportHeading& heading, std::string_view title, int64_t utc_seconds,
                         uint32_t process_id, uint32_t thread_id) {
  heading.Append("Wardex crash report: ").Append(title).Append("\nTime: ");
  AppendDate(heading, ToCivil(utc_seconds), "-", " ", ":");
  heading.Append(" UTC\nProcess: ").AppendDecimal(process_id);
  heading.Append("\nThread: ").AppendDecimal(thread_id);
  heading.Append("\nComputer: ").Append(g_computer_id.load(std::memory_order_acquire));
  heading.Append("\n");
}

}  // namespace wardex::crashlog
