#include "modules/module_test_env.h"

#include <cstdlib>
#include <fstream>

#include "crashlog/log_test_util.h"
#include "support/test_env_internal.h"

namespace wardex::test {

ModuleTestEnv::ModuleTestEnv(bool with_runtime_dir)
    : root_(with_runtime_dir),
      log_file_(root_.path() + "/wardex.log"),
      journal_file_(root_.path() + "/journal.txt") {
  root_.Set("WARDEX_LOG_FILE", log_file_);
  root_.Unset("WARDEX_LOG_LEVEL");
  root_.Set("WARDEX_TEST_MODULE_JOURNAL", journal_file_);
  for (const char* name : {"WARDEX_TEST_MODULE_KIND", "WARDEX_TEST_MODULE_FLAGS",
                           "WARDEX_TEST_MODULE_WINDOW", "LD_LIBRARY_PATH"}) {
    root_.Unset(name);
  }
  TrustTestAuthority();
}

std::string ModuleTestEnv::PkiPath(const std::string& file) {
  return std::string(WARDEX_TEST_PKI_DIR) + "/" + file;
}

std::string ModuleTestEnv::FullPath(const std::string& target) const {
  return std::filesystem::path(target).has_root_directory() ? target : root_.path() + "/" + target;
}

std::string ModuleTestEnv::Copy(const std::string& source, const std::string& target) {
  const std::string path = FullPath(target);
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::filesystem::copy_file(source, path, std::filesystem::copy_options::overwrite_existing);
  return SystemPath(path);
}

std::vector<LoggedLine> ModuleTestEnv::LogLines() const {
  std::vector<LoggedLine> lines;
  for (const std::string& line : ReadLines(log_file_)) {
    if (const auto parsed = ParseLogLine(line)) lines.push_back({parsed->level, parsed->text});
  }
  return lines;
}

void ModuleTestEnv::ClearLog() const { std::ofstream(log_file_, std::ios::trunc); }

std::vector<std::string> ModuleTestEnv::Journal() const { return ReadLines(journal_file_); }

}  // namespace wardex::test
