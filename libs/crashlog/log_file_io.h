// What the log file needs of the system it runs on: its default place, a
// file opened for appending, renames, folders and standard error.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace wardex::crashlog {

// The variables besides WARDEX_LOG_FILE that the default place and the
// journal depend on; the place is resolved again when one of them changes.
[[nodiscard]] std::span<const char* const> LogPlaceVariables();
// The log file's path when WARDEX_LOG_FILE names none; empty when the user
// has no folder for it.
[[nodiscard]] std::string DefaultLogFilePath();
// Where lines are mirrored besides the file (the systemd journal), or
// nullptr for nowhere.
using LogMirror = void (*)(int level, std::string_view text);
[[nodiscard]] LogMirror ResolveLogMirror();

// A file opened for appending and shared with other processes' loggers,
// which may rename it while it is open. Created private to the user. On
// Windows each line opens the file, appends and closes it again: no process
// then holds the log, so it can be deleted, moved or rotated at any time (an
// open file would keep its folder from being removed), and rotation goes by
// the file's own size. That costs about 200 us a line under Wine, 4 us
// with the file held open.
class AppendFile {
 public:
  AppendFile() = default;
  ~AppendFile() { Close(); }
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  // Opens |path|; on failure returns false, and LastSystemError() tells why.
  bool Open(const std::string& path);
  void Close();
  [[nodiscard]] bool is_open() const { return !path_.empty(); }
  [[nodiscard]] int64_t size() const { return size_; }
  // Appends all of |text| with one write, so lines of processes sharing the
  // file never interleave.
  bool Append(std::string_view text);
  // Whether |path| still names the open file (another process may have
  // rotated it away).
  [[nodiscard]] bool IsNamed(const std::string& path) const;

 private:
  static constexpr intptr_t kClosed = -1;
  std::string path_;           // empty while closed
  intptr_t handle_ = kClosed;  // the descriptor (POSIX only)
  int64_t size_ = 0;
};

// The system's error code of the last call that failed, and its text.
[[nodiscard]] int LastSystemError();
[[nodiscard]] std::string SystemErrorText(int error);
// Creates |folder| and its missing parents, private to the user. Returns 0,
// or the error of the first folder that could not be made.
int MakeFolders(const std::string& folder);
// The folder part of |path|.
[[nodiscard]] std::string ParentFolder(const std::string& path);
// Replaces |to| with |from|; false when it cannot.
bool RenameFile(const std::string& from, const std::string& to);
void WriteToStandardError(std::string_view text);

}  // namespace wardex::crashlog
