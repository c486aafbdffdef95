// Helpers for the process tests: waits for a condition (support/wait.h) and,
// on Linux, a fake desktop opener and the children of this process that are
// zombies.
#pragma once

#include "support/test_env.h"
#include "support/wait.h"

#if !defined(_WIN32)
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace wardex::test {

// A fake xdg-open first in PATH until |root| goes: it records "<its
// arguments>|<its working folder>" and exits with the code ExitWith set last
// (0 before).
class FakeOpener {
 public:
  explicit FakeOpener(ScopedTestRoot& root) : bin_(root.path() + "/bin") {
    EXPECT_TRUE(WriteFile(bin_ + "/xdg-open",
                          "#!/bin/sh\nprintf '%s|%s' \"$*\" \"$PWD\" > \"${0%/*}/opened\"\n"
                          "exit $(cat \"${0%/*}/exit\" 2>/dev/null || echo 0)\n") &&
                chmod((bin_ + "/xdg-open").c_str(), 0755) == 0);
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

// A child of this process that has ended but was not reaped, left as it is:
// none, or the first one found.
inline std::vector<pid_t> ZombieChildren() {
  siginfo_t child{};
  if (waitid(P_ALL, 0, &child, WEXITED | WNOHANG | WNOWAIT) != 0 || child.si_pid == 0) return {};
  return {child.si_pid};
}

}  // namespace wardex::test
#endif
