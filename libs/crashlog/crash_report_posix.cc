#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "crash_report.h"
#include "crash_report_parts.h"
#include "this_process.h"
#include "write_all.h"

namespace wardex::crashlog {
namespace {

constexpr int kBacktraceDepth = 64;

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
int OpenReportFile(int64_t now, ReportPath& path) {
  const char* dir = PublishedReportDir();
  if (dir == nullptr || *dir == '\0') return STDERR_FILENO;
  AppendReportFileName(path, dir, '/', now, CurrentProcessId(), ".txt");
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

void PrepareBacktrace() {
  void* frames[1];
  (void)backtrace(frames, 1);
}

void WriteReport(std::string_view title, std::string_view details) {
  const int64_t now = UtcSecondsNow();
  ReportPath path;
  const int fd = OpenReportFile(now, path);

  ReportHeading heading;
  AppendReportHeading(heading, title, now, CurrentProcessId(), CurrentThreadId());
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
