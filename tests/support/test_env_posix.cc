#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <tuple>

#include "support/test_env.h"
#include "support/test_env_internal.h"

namespace wardex::test {

const char kProgramSuffix[] = "";
const char kLibrarySuffix[] = ".so";

void SetEnv(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }

void UnsetEnv(const char* name) { unsetenv(name); }

std::string MakeTemporaryFolder() {
  std::string templ = (std::filesystem::temp_directory_path() / "wardex-test-XXXXXX").string();
  return mkdtemp(templ.data());
}

void MakePrivateFolder(const std::string& path) { mkdir(path.c_str(), 0700); }

int RunShell(const std::string& command, std::string* output) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof(buffer), pipe)) > 0;) {
    if (output != nullptr) output->append(buffer, n);
  }
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void OpenToEveryone(const std::string& path) { chmod(path.c_str(), 0755); }

std::string HelperProgram(const std::string& name) {
  return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / name).string();
}

// The build's libraries are found by their full paths.
bool CopyProgram(const std::string& program, const std::string& target) {
  std::error_code error;
  return std::filesystem::copy_file(program, target, error);
}

ChildProgram::ChildProgram(const std::string& program, const std::vector<std::string>& arguments,
                           const std::string& output, const std::string& errors,
                           const std::string& input) {
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (const auto& [fd, file, flags] : {std::tuple{STDIN_FILENO, &input, O_RDONLY},
                                        {STDOUT_FILENO, &output, O_WRONLY | O_CREAT | O_TRUNC},
                                        {STDERR_FILENO, &errors, O_WRONLY | O_CREAT | O_TRUNC}}) {
    if (fd == STDERR_FILENO && !errors.empty() && errors == output) {
      posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    } else if (!file->empty()) {
      posix_spawn_file_actions_addopen(&actions, fd, file->c_str(), flags, 0644);
    }
  }
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0) pid_ = pid;
  posix_spawn_file_actions_destroy(&actions);
}

ChildProgram::~ChildProgram() {
  Kill();
  Wait();
}

int64_t ChildProgram::Wait(uint32_t timeout_ms) {
  if (!started() || ended_) return exit_code_;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(static_cast<pid_t>(pid_), &status, WNOHANG);
    if (done == pid_) {
      ended_ = true;
      exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return exit_code_;
    }
    if (done < 0 || std::chrono::steady_clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void ChildProgram::Kill() {
  if (started() && !ended_) kill(static_cast<pid_t>(pid_), SIGKILL);
}

bool RunningUnderWine() { return false; }

bool RunningAsRoot() { return geteuid() == 0; }

int RunAsUnprivileged(const std::function<int()>& check) { return RunAsUser(kNobodyUid, check); }

int RunAsUser(uint32_t uid, const std::function<int()>& check) {
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0) _exit(127);
    _exit(check());
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

std::string ReachableCopy(const std::string& program, const std::string& folder) {
  namespace fs = std::filesystem;
  const std::string name = fs::path(program).filename().string();
  const fs::path libraries = fs::path(folder) / (name + "-libs");
  std::error_code error;
  fs::create_directories(libraries, error);
  fs::copy_file(program, libraries / name, fs::copy_options::overwrite_existing, error);
  if (error) return {};
  // The libraries it loads from the build tree go beside it; the system's
  // folders are open to everyone.
  FILE* ldd = popen(("ldd '" + program + "'").c_str(), "r");
  if (ldd == nullptr) return {};
  char line[4096];
  while (fgets(line, sizeof(line), ldd) != nullptr) {
    const std::string text = line;
    const size_t arrow = text.find(" => /");
    if (arrow == std::string::npos) continue;
    const std::string path = text.substr(arrow + 4, text.find(" (", arrow) - arrow - 4);
    if (path.rfind("/lib", 0) == 0 || path.rfind("/usr/", 0) == 0) continue;
    fs::copy_file(path, libraries / fs::path(path).filename(), fs::copy_options::overwrite_existing,
                  error);
    if (error) break;
  }
  if (pclose(ldd) != 0 || error) return {};
  // Its RUNPATH still names the build tree; LD_LIBRARY_PATH comes first.
  const std::string wrapper = folder + "/" + name;
  if (!WriteFile(wrapper, "#!/bin/sh\nLD_LIBRARY_PATH='" + libraries.string() + "' exec '" +
                              (libraries / name).string() + "' \"$@\"\n")) {
    return {};
  }
  fs::permissions(libraries, fs::perms(0755), error);
  for (const auto& entry : fs::directory_iterator(libraries)) {
    fs::permissions(entry.path(), fs::perms(0755), error);
  }
  fs::permissions(wrapper, fs::perms(0755), error);
  return error ? std::string() : wrapper;
}

}  // namespace wardex::test
