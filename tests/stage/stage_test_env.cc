#include "stage_test_env.h"

namespace wardex::test {

std::vector<std::string> StageTestEnv::LogTexts(const std::string& prefix) const {
  std::vector<std::string> texts;
  for (const LoggedLine& line : LogLines()) {
    if (line.text.rfind(prefix, 0) == 0) texts.push_back(line.text);
  }
  return texts;
}

}  // namespace wardex::test
