#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "journal.h"
#include "log_file.h"
#include "log_file_io.h"
#include "write_all.h"

namespace wardex::crashlog {
namespace {

constexpr char kJournalSocket[] = "/run/systemd/journal/socket";
constexpr char kStateHomeVariable[] = "XDG_STATE_HOME";
constexpr char kHomeVariable[] = "HOME";
// "0" keeps the log out of the journal (tests on a machine that runs one).
constexpr char kJournalVariable[] = "WARDEX_LOG_JOURNAL";
constexpr std::array<const char*, 3> kPlaceVariables = {kStateHomeVariable, kHomeVariable,
                                                        kJournalVariable};

// Returns the user's home folder: $HOME, else the password database's entry.
std::string HomeFolder() {
  const char* home = getenv(kHomeVariable);
  if (home != nullptr && *home != '\0') return home;
  passwd entry{};
  passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(getuid(), &entry, buffer, sizeof(buffer), &found) == 0 && found != nullptr) {
    return found->pw_dir;
  }
  return {};
}

}  // namespace

std::span<const char* const> LogPlaceVariables() { return kPlaceVariables; }

std::string DefaultLogFilePath() {
  // Relative values are invalid by the XDG rules and ignored.
  const char* state_home = getenv(kStateHomeVariable);
  if (state_home != nullptr && state_home[0] == '/') {
    return std::string(state_home) + "/wardex/log/" + kLogFileName;
  }
  std::string home = HomeFolder();
  if (home.empty()) return {};
  return home + "/.local/state/wardex/log/" + kLogFileName;
}

LogMirror ResolveLogMirror() {
  const char* journal = getenv(kJournalVariable);
  if (journal != nullptr && std::strcmp(journal, "0") == 0) return nullptr;
  return access(kJournalSocket, F_OK) == 0 ? &SendToJournal : nullptr;
}

bool AppendFile::Open(const std::string& path) {
  Close();
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  struct stat info {};
  if (fd >= 0 && fstat(fd, &info) == 0) {
    path_ = path;
    handle_ = fd;
    size_ = info.st_size;
    return true;
  }
  const int error = errno;
  if (fd >= 0) close(fd);
  errno = error;
  return false;
}

void AppendFile::Close() {
  if (handle_ != kClosed) close(static_cast<int>(handle_));
  path_.clear();
  handle_ = kClosed;
  size_ = 0;
}

bool AppendFile::Append(std::string_view text) {
  if (!WriteAll(static_cast<int>(handle_), text)) return false;
  size_ += static_cast<int64_t>(text.size());
  return true;
}

bool AppendFile::IsNamed(const std::string& path) const {
  struct stat open_file {};
  struct stat named_file {};
  return fstat(static_cast<int>(handle_), &open_file) == 0 &&
         stat(path.c_str(), &named_file) == 0 && open_file.st_ino == named_file.st_ino &&
         open_file.st_dev == named_file.st_dev;
}

int LastSystemError() { return errno; }

std::string SystemErrorText(int error) { return strerror(error); }

int MakeFolders(const std::string& folder) {
  for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    if (mkdir(folder.substr(0, slash).c_str(), 0700) != 0 && errno != EEXIST) return errno;
    if (slash == std::string::npos) return 0;
  }
}

std::string ParentFolder(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool RenameFile(const std::string& from, const std::string& to) {
  return rename(from.c_str(), to.c_str()) == 0;
}

void WriteToStandardError(std::string_view text) { WriteAll(STDERR_FILENO, text); }

}  // namespace wardex::crashlog
