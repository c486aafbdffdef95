// Fixtures shared by the tests: each test gets its own machine root and XDG
// folders, so tests never touch real state and can run in parallel.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace wardex::test {

// Stress counts: full size normally, smaller under the sanitizers and under
// Wine, where every system call is a round trip to the wineserver.
constexpr int Scaled([[maybe_unused]] int full, [[maybe_unused]] int sanitized) {
#if defined(WARDEX_UNDER_SANITIZER) || defined(_WIN32)
  return sanitized;
#else
  return full;
#endif
}

// Sets and removes variables of this process's environment, which the
// programs it starts inherit, until the object goes: then each gets back its
// value from before (a variable set twice, the one from before both).
class ScopedEnvironment {
 public:
  ~ScopedEnvironment();
  void Set(const std::string& name, const std::string& value);
  void Unset(const std::string& name);

 private:
  // The variables with their values before (none: it was unset), oldest first.
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// A fresh temporary folder holding root/ (WARDEX_ROOT) and the XDG folders
// config/, data/, state/, cache/; the environment is restored on destruction.
// XDG_RUNTIME_DIR is unset, as on a machine without a login session, unless
// with_runtime_dir is true, when it points at runtime/ (mode 0700).
class ScopedTestRoot : public ScopedEnvironment {
 public:
  explicit ScopedTestRoot(bool with_runtime_dir = false);
  ~ScopedTestRoot();
  ScopedTestRoot(const ScopedTestRoot&) = delete;
  ScopedTestRoot& operator=(const ScopedTestRoot&) = delete;

  const std::string& path() const { return path_; }     // the temporary folder
  std::string root() const { return path_ + "/root"; }  // WARDEX_ROOT
  std::string data_home() const { return path_ + "/data"; }
  std::string state_home() const { return path_ + "/state"; }
  std::string config_home() const { return path_ + "/config"; }

 private:
  std::string path_;
};

// Sets or removes a variable of this process's environment, which the
// programs it starts inherit.
void SetEnv(const char* name, const std::string& value);
void UnsetEnv(const char* name);

// What this system's files end with: ".exe" and ".dll" on Windows, "" and
// ".so" on Linux.
extern const char kProgramSuffix[];
extern const char kLibrarySuffix[];
// |path| as the system writes it: tests name paths with "/", Windows with "\".
std::string SystemPath(const std::string& path);

// The path of the helper program |name| built beside the running test
// program ("name.exe" on Windows).
std::string HelperProgram(const std::string& name);

// Copies |program| to |target| so that the copy runs from there: on
// Windows, which finds a program's DLLs in its own folder, with the build's
// DLLs beside it. False on failure.
bool CopyProgram(const std::string& program, const std::string& target);

// A program a test starts with its arguments and the test's standard streams,
// or files for them: |output| and |errors| written (both into one when they
// name the same file), |input| read, where named. Killed and waited for on
// destruction if it still runs.
class ChildProgram {
 public:
  ChildProgram(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& output = {}, const std::string& errors = {},
               const std::string& input = {});
  ~ChildProgram();
  ChildProgram(const ChildProgram&) = delete;
  ChildProgram& operator=(const ChildProgram&) = delete;

  [[nodiscard]] bool started() const { return pid_ > 0; }
  [[nodiscard]] int64_t pid() const { return pid_; }
  // Waits at most |timeout_ms| for its end; its exit code (128 plus the
  // signal's number for one ended by a signal), or -1 when it did not end in
  // time or never started.
  int64_t Wait(uint32_t timeout_ms = 60000);
  int64_t Wait(std::chrono::milliseconds timeout) {
    return Wait(static_cast<uint32_t>(timeout.count()));
  }
  bool Running() { return Wait(0) < 0; }
  void Kill();

 private:
  int64_t pid_ = -1;
  intptr_t handle_ = 0;  // Windows: the process handle
  bool ended_ = false;
  int64_t exit_code_ = -1;
};

// True when the tests run under Wine, which does some things unlike Windows
// (tests that meet them say what).
bool RunningUnderWine();

// True when the tests run as root, so that a child can drop privileges.
bool RunningAsRoot();

// Runs |check| in a forked child that has dropped to the unprivileged user
// "nobody" (65534) and returns its exit status, or -1 when it could not run.
// Use only when RunningAsRoot(); as root a permission test tests nothing.
int RunAsUnprivileged(const std::function<int()>& check);
// The same as another unprivileged user id (and group id), for tests of
// two users; the id needs no account.
int RunAsUser(uint32_t uid, const std::function<int()>& check);
inline constexpr uint32_t kNobodyUid = 65534;

// Copies |program| and the libraries it loads from outside the system's
// folders into |folder|, and returns the path of a script there that runs the
// copy; empty on failure. An unprivileged child runs that script: the checkout
// may sit in a folder it cannot enter, such as a 0700 home.
std::string ReachableCopy(const std::string& program, const std::string& folder);

// Runs |command| through the shell (Linux) and returns its exit code, or -1
// when it did not exit; what it writes to standard output goes to |output|.
int RunShell(const std::string& command, std::string* output = nullptr);

// Writes |content| to |path|, creating parent folders. Returns false on failure.
bool WriteFile(const std::string& path, const std::string& content);
// The whole file, or an empty string when it cannot be read.
std::string ReadFile(const std::string& path);
// The file's lines without their ends; none when it cannot be read.
std::vector<std::string> ReadLines(const std::string& path);

}  // namespace wardex::test
