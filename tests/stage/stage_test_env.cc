#include "stage_test_env.h"

#include <sys/stat.h>

namespace wardex::test {

StageTestEnv::StageTestEnv() {
  ::mkdir(runtime_folder().c_str(), 0700);
  env().Set("XDG_RUNTIME_DIR", runtime_folder());
}

std::vector<std::string> StageTestEnv::LogTexts(const std::string& prefix) const {
  std::vector<std::string> texts;
  for (const LoggedLine& line : LogLines()) {
    if (line.text.rfind(prefix, 0) == 0) texts.push_back(line.text);
  }
  return texts;
}

}  // namespace wardex::test
