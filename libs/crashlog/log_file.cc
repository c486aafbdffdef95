#include "log_file.h"

#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "crash_report.h"
#include "log_file_io.h"
#include "log_line.h"

namespace wardex::crashlog {
namespace {

std::optional<std::string> ReadVariable(const char* name) {
  const char* value = getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

// The variables a place was resolved from: WARDEX_LOG_FILE, then the
// system's own.
class Environment {
 public:
  static Environment Read() {
    Environment env;
    env.values_.push_back(ReadVariable(kLogFileVariable));
    for (const char* name : LogPlaceVariables()) env.values_.push_back(ReadVariable(name));
    return env;
  }
  bool Unchanged() const { return values_ == Read().values_; }
  // The file WARDEX_LOG_FILE names, or empty.
  std::string OwnLogFile() const { return values_[0].value_or(std::string()); }

 private:
  std::vector<std::optional<std::string>> values_;
};

// The log file's path: the one WARDEX_LOG_FILE names, else the system's
// default; empty when there is none.
std::string LogFilePath(const Environment& env) {
  const std::string own_file = env.OwnLogFile();
  return own_file.empty() ? DefaultLogFilePath() : own_file;
}

class LogFile {
 public:
  // Writes |line| and returns where to mirror it.
  LogMirror Write(std::string_view line) {
    std::lock_guard lock(mutex_);
    ResolveIfChanged();
    if (file_.is_open()) {
      if (file_.size() > 0 && file_.size() + static_cast<int64_t>(line.size()) > kLogFileMaxBytes) {
        Rotate();
      }
      if (file_.is_open() && file_.Append(line)) return mirror_;
    }
    WriteToStandardError(line);
    return mirror_;
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
    return file_.is_open() ? path_ : std::string();
  }

 private:
  void ResolveIfChanged() {
    if (resolved_ && env_.Unchanged()) return;
    file_.Close();
    env_ = Environment::Read();
    resolved_ = true;
    path_ = LogFilePath(env_);
    mirror_ = env_.OwnLogFile().empty() ? ResolveLogMirror() : nullptr;
    if (path_.empty()) {
      WriteToStandardError("wardex: no home folder for the log; logging to standard error\n");
    } else {
      const std::string folder = ParentFolder(path_);
      const int folder_error = MakeFolders(folder);
      if (!file_.Open(path_)) {
        const int open_error = LastSystemError();
        if (folder_error != 0) {
          ReportFallback("create the log folder " + folder, folder_error);
        } else {
          ReportFallback("open the log file " + path_, open_error);
        }
      }
    }
    PublishReportDir(file_.is_open() ? ParentFolder(path_) : std::string());
  }

  static void ReportFallback(const std::string& what, int error) {
    WriteToStandardError("wardex: cannot " + what + ": " + SystemErrorText(error) +
                         "; logging to standard error\n");
  }

  // Shifts the generations up by one and starts a new file. When another
  // process has rotated the file already, only reopens it.
  void Rotate() {
    if (file_.IsNamed(path_)) {
      file_.Close();
      for (int generation = kLogGenerations; generation > 1; --generation) {
        RenameFile(Generation(generation - 1), Generation(generation));
      }
      RenameFile(path_, Generation(1));
    }
    file_.Close();
    if (!file_.Open(path_)) ReportFallback("open the log file " + path_, LastSystemError());
  }

  std::string Generation(int number) const { return path_ + "." + std::to_string(number); }

  std::mutex mutex_;
  bool resolved_ = false;
  Environment env_;
  std::string path_;
  AppendFile file_;
  LogMirror mirror_ = nullptr;
};

// Never destroyed: threads may log while the process exits.
LogFile& TheLogFile() {
  static LogFile* file = new LogFile;
  return *file;
}

}  // namespace

void WriteLog(int level, std::string_view text) {
  const LogMirror mirror = TheLogFile().Write(BuildLogLine(level, text));
  if (mirror != nullptr) mirror(level, text);
}

void PublishLogFolderForReports() { TheLogFile().PublishFolder(); }

std::string LogTarget() { return TheLogFile().Target(); }

}  // namespace wardex::crashlog
