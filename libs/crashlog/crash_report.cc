#include "crash_report.h"

#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <forward_list>
#include <mutex>

#include "fixed_text.h"
#include "log_line.h"
#include "osal/civil_date.h"
#include "write_all.h"

namespace wardex::crashlog {
namespace {

constexpr int kBacktraceDepth = 64;

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

// Makes |dir| and its missing parents, private to the user, with nothing
// but async-signal-safe calls.
void MakeReportDir(const char* dir) {
  char partial[4096];
  const size_t length = std::strlen(dir);
  if (length >= sizeof(partial)) return;
  std::memcpy(partial, dir, length + 1);
  for (size_t i = 1; i <= length; ++i) {
    if (partial[i] != '/' && partial[i] != '\0') continue;
    const char kept = partial[i];
    partial[i] = '\0';
    (void)mkdir(partial, 0700);
    partial[i] = kept;
  }
}

// Opens the report file of this second, or gives standard error. The log's
// folder is made only now when nothing was logged before.
int OpenReportFile(const CivilTime& now, FixedText<4096>& path) {
  const char* dir = g_report_dir.load(std::memory_order_acquire);
  if (dir == nullptr || *dir == '\0') return STDERR_FILENO;
  path.Append(dir).Append("/crash-");
  AppendDate(path, now, "", "-", "");
  path.Append("-").AppendDecimal(getpid()).Append(".txt");
  int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0 && errno == ENOENT) {
    MakeReportDir(dir);
    fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  }
  return fd >= 0 ? fd : STDERR_FILENO;
}

// One line per frame, as backtrace_symbols_fd writes them, but a library
// the agent loaded through its checked descriptor (/proc/self/fd/N, kept open
// while the library is mapped) is named by the file that descriptor opened.
void WriteBacktrace(int fd, void* const* frames, int count) {
  constexpr std::string_view kDescriptorPrefix = "/proc/self/fd/";
  for (int i = 0; i < count; ++i) {
    const auto address = reinterpret_cast<uintptr_t>(frames[i]);
    FixedText<4096 + 512> line;
    Dl_info info{};
    if (dladdr(frames[i], &info) != 0 && info.dli_fname != nullptr && info.dli_fname[0] != 0) {
      char real_path[4096];
      const char* file = info.dli_fname;
      if (std::strncmp(file, kDescriptorPrefix.data(), kDescriptorPrefix.size()) == 0) {
        const ssize_t length = readlink(file, real_path, sizeof(real_path) - 1);
        if (length > 0) {
          real_path[length] = 0;
          file = real_path;
        }
      }
      line.Append(file).Append("(");
      if (info.dli_sname != nullptr) {
        line.Append(info.dli_sname).Append("+0x");
        line.AppendHex(address - reinterpret_cast<uintptr_t>(info.dli_saddr), 1);
      } else {
        line.Append("+0x").AppendHex(address - reinterpret_cast<uintptr_t>(info.dli_fbase), 1);
      }
      line.Append(") ");
    }
    line.Append("[0x").AppendHex(address, 1).Append("]\n");
    WriteAll(fd, line.view());
  }
}

}  // namespace

void PublishReportDir(const std::string& dir) {
  g_report_dir.store(KeepForever(dir), std::memory_order_release);
}

void PublishComputerId(const std::string& computer_id) {
  g_computer_id.store(KeepForever(computer_id), std::memory_order_release);
}

void PrepareBacktrace() {
  void* frames[1];
  (void)backtrace(frames, 1);
}

void WriteReport(std::string_view title, std::string_view details) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const CivilTime civil = ToCivil(now.tv_sec);
  FixedText<4096> path;
  const int fd = OpenReportFile(civil, path);

  FixedText<1024> heading;
  heading.Append("Wardex crash report: ").Append(title).Append("\nTime: ");
  AppendDate(heading, civil, "-", " ", ":");
  heading.Append(" UTC\nProcess: ").AppendDecimal(getpid());
  heading.Append("\nThread: ").AppendDecimal(CurrentThreadId());
  heading.Append("\nComputer: ").Append(g_computer_id.load(std::memory_order_acquire));
  heading.Append("\n");
  WriteAll(fd, heading.view());
  WriteAll(fd, details);
  WriteAll(fd, "Backtrace:\n");
  void* frames[kBacktraceDepth];
  WriteBacktrace(fd, frames, backtrace(frames, kBacktraceDepth));
  WriteAll(fd, "\n");
  if (fd == STDERR_FILENO) return;
  close(fd);
  FixedText<4200> notice;
  notice.Append("wardex: ").Append(title).Append(", report written to ").Append(path.view());
  notice.Append("\n");
  WriteAll(STDERR_FILENO, notice.view());
}

}  // namespace wardex::crashlog
