// What the stage tests share: where the staged tree is, and a module test
// setting whose runtime folder (named objects) is the test's own.
#pragma once

#include <string>

#include "modules/module_test_env.h"

namespace wardex::test {

inline std::string StagedApp() { return std::string(WARDEX_STAGE_DIR) + "/app"; }
inline std::string StagedRoot() { return std::string(WARDEX_STAGE_DIR) + "/root"; }

// ModuleTestEnv plus a private XDG_RUNTIME_DIR, so the named event of one test
// is not seen by another running at the same time (on Linux: Windows has one
// namespace for the session, and the tests that use the event take turns).
class StageTestEnv : public ModuleTestEnv {
 public:
  StageTestEnv() : ModuleTestEnv(/*with_runtime_dir=*/true) {}
  // The lines logged since the test began whose text starts with |prefix|.
  std::vector<std::string> LogTexts(const std::string& prefix) const {
    std::vector<std::string> texts;
    for (const LoggedLine& line : LogLines()) {
      if (line.text.rfind(prefix, 0) == 0) texts.push_back(line.text);
    }
    return texts;
  }
};

}  // namespace wardex::test
