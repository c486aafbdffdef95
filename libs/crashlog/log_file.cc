#include "log_file.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>

#include "crash_report.h"
#include "write_all.h"

namespace wardex::crashlog {
namespace {

constexpr char kJournalSocket[] = "/run/systemd/journal/socket";
constexpr char kStateHomeVariable[] = "XDG_STATE_HOME";
constexpr char kHomeVariable[] = "HOME";
// "0" keeps the log out of the journal (tests on a machine that runs one).
constexpr char kJournalVariable[] = "WARDEX_LOG_JOURNAL";

std::optional<std::string> ReadVariable(const char* name) {
  const char* value = getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

bool SameValue(const char* now, const std::optional<std::string>& then) {
  if (now == nullptr || !then) return now == nullptr && !then;
  return *then == now;
}

// The variables a target was resolved from.
struct Environment {
  std::optional<std::string> log_file;
  std::optional<std::string> state_home;
  std::optional<std::string> home;
  std::optional<std::string> journal;

  static Environment Read() {
    return {ReadVariable(kLogFileVariable), ReadVariable(kStateHomeVariable),
            ReadVariable(kHomeVariable), ReadVariable(kJournalVariable)};
  }
  bool Unchanged() const {
    return SameValue(getenv(kLogFileVariable), log_file) &&
           SameValue(getenv(kStateHomeVariable), state_home) &&
           SameValue(getenv(kHomeVariable), home) && SameValue(getenv(kJournalVariable), journal);
  }
  bool HasLogFile() const { return log_file && !log_file->empty(); }
  bool JournalWanted() const { return !HasLogFile() && journal != "0"; }
};

// Returns the user's home folder: $HOME, else the password database's entry.
std::string HomeFolder(const Environment& env) {
  if (env.home && !env.home->empty()) return *env.home;
  passwd entry{};
  passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(getuid(), &entry, buffer, sizeof(buffer), &found) == 0 && found != nullptr) {
    return found->pw_dir;
  }
  return {};
}

// Returns the log file's path, or empty when the user has no home folder.
std::string LogFilePath(const Environment& env) {
  if (env.HasLogFile()) return *env.log_file;
  // Relative values are invalid by the XDG rules and ignored.
  if (env.state_home && env.state_home->starts_with('/')) {
    return *env.state_home + "/wardex/log/" + kLogFileName;
  }
  std::string home = HomeFolder(env);
  if (home.empty()) return {};
  return home + "/.local/state/wardex/log/" + kLogFileName;
}

std::string ParentFolder(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Creates |folder| and its missing parents, private to the user. Returns 0,
// or the errno of the first folder that could not be made.
int MakeFolders(const std::string& folder) {
  for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    if (mkdir(folder.substr(0, slash).c_str(), 0700) != 0 && errno != EEXIST) return errno;
    if (slash == std::string::npos) return 0;
  }
}

void WriteToStandardError(std::string_view text) { WriteAll(STDERR_FILENO, text); }

class LogFile {
 public:
  bool Write(std::string_view line) {
    std::lock_guard lock(mutex_);
    ResolveIfChanged();
    if (fd_ >= 0) {
      if (size_ > 0 && size_ + static_cast<int64_t>(line.size()) > kLogFileMaxBytes) Rotate();
      if (fd_ >= 0 && WriteAll(fd_, line)) {
        size_ += static_cast<int64_t>(line.size());
        return journal_;
      }
    }
    WriteToStandardError(line);
    return journal_;
  }

  void PublishFolder() {
    std::lock_guard lock(mutex_);
    if (resolved_ && env_.Unchanged()) return;  // published when it was resolved
    const std::string path = LogFilePath(Environment::Read());
    PublishReportDir(path.empty() ? std::string() : ParentFolder(path));
  }

  std::string Target() {
    std::lock_guard lock(mutex_);
    ResolveIfChanged();
    return fd_ >= 0 ? path_ : std::string();
  }

 private:
  void ResolveIfChanged() {
    if (resolved_ && env_.Unchanged()) return;
    CloseFile();
    env_ = Environment::Read();
    resolved_ = true;
    path_ = LogFilePath(env_);
    journal_ = env_.JournalWanted() && access(kJournalSocket, F_OK) == 0;
    if (path_.empty()) {
      WriteToStandardError("wardex: no home folder for the log; logging to standard error\n");
    } else {
      const std::string folder = ParentFolder(path_);
      const int folder_error = MakeFolders(folder);
      if (!OpenFile()) {
        const int open_error = errno;
        if (folder_error != 0) {
          ReportFallback("create the log folder " + folder, folder_error);
        } else {
          ReportFallback("open the log file " + path_, open_error);
        }
      }
    }
    PublishReportDir(fd_ >= 0 ? ParentFolder(path_) : std::string());
  }

  // Opens the file at path_; on failure errno tells why.
  bool OpenFile() {
    fd_ = open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    struct stat info {};
    if (fd_ >= 0 && fstat(fd_, &info) == 0) {
      size_ = info.st_size;
      return true;
    }
    const int error = errno;
    CloseFile();
    errno = error;
    return false;
  }

  static void ReportFallback(const std::string& what, int error) {
    WriteToStandardError("wardex: cannot " + what + ": " + strerror(error) +
                         "; logging to standard error\n");
  }

  void CloseFile() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    size_ = 0;
  }

  // Shifts the generations up by one and starts a new file. When another
  // process has rotated the file already, only reopens it.
  void Rotate() {
    struct stat open_file {};
    struct stat named_file {};
    const bool still_ours = fstat(fd_, &open_file) == 0 && stat(path_.c_str(), &named_file) == 0 &&
                            open_file.st_ino == named_file.st_ino &&
                            open_file.st_dev == named_file.st_dev;
    if (still_ours) {
      for (int generation = kLogGenerations; generation > 1; --generation) {
        rename(Generation(generation - 1).c_str(), Generation(generation).c_str());
      }
      rename(path_.c_str(), Generation(1).c_str());
    }
    CloseFile();
    if (!OpenFile()) ReportFallback("open the log file " + path_, errno);
  }

  std::string Generation(int number) const { return path_ + "." + std::to_string(number); }

  std::mutex mutex_;
  bool resolved_ = false;
  Environment env_;
  std::string path_;
  int fd_ = -1;
  int64_t size_ = 0;
  bool journal_ = false;
};

// Never destroyed: threads may log while the process exits.
LogFile& TheLogFile() {
  static LogFile* file = new LogFile;
  return *file;
}

}  // namespace

bool WriteLogLine(std::string_view line) { return TheLogFile().Write(line); }

void PublishLogFolderForReports() { TheLogFile().PublishFolder(); }

std::string LogTarget() { return TheLogFile().Target(); }

}  // namespace wardex::crashlog
