// Helpers for the process tests: scripts written into the test's folder, a
// fake desktop opener, the children of this process that are zombies, and
// waits for a condition (support/wait.h).
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/test_env.h"
#include "support/wait.h"

namespace wardex::test {

// Writes an executable shell script |body| to |path|. False on failure.
inline bool WriteScript(const std::string& path, const std::string& body) {
  return WriteFile(path, "#!/bin/sh\n" + body + "\n") && chmod(path.c_str(), 0755) == 0;
}

// A fake xdg-open first in PATH until |root| goes: it records "<its
// arguments>|<its working folder>" and exits with the code ExitWith set last
// (0 before).
class FakeOpener {
 public:
  explicit FakeOpener(ScopedTestRoot& root) : bin_(root.path() + "/bin") {
    EXPECT_TRUE(WriteScript(bin_ + "/xdg-open",
                            "printf '%s|%s' \"$*\" \"$PWD\" > \"${0%/*}/opened\"\n"
                            "exit $(cat \"${0%/*}/exit\" 2>/dev/null || echo 0)"));
    root.Set("PATH", bin_ + ":" + std::getenv("PATH"));
  }
  bool ExitWith(const char* code) const { return WriteFile(bin_ + "/exit", code); }
  // What the opener recorded since the last call; "" when it did not run.
  std::string TakeOpened() const {
    const std::string opened = ReadFile(bin_ + "/opened");
    std::remove((bin_ + "/opened").c_str());
    return opened;
  }

 private:
  const std::string bin_;
};

// The ids of this process's children that have ended but were not reaped.
inline std::vector<pid_t> ZombieChildren() {
  std::vector<pid_t> zombies;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return zombies;
  while (const dirent* item = readdir(proc)) {
    const std::string stat = ReadFile(std::string("/proc/") + item->d_name + "/stat");
    const size_t close_paren = stat.rfind(')');
    if (close_paren == std::string::npos || close_paren + 4 >= stat.size()) continue;
    const char state = stat[close_paren + 2];
    const long parent = std::strtol(stat.c_str() + close_paren + 4, nullptr, 10);
    if (state == 'Z' && parent == getpid()) zombies.push_back(std::atoi(item->d_name));
  }
  closedir(proc);
  return zombies;
}

}  // namespace wardex::test
