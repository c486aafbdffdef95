#include "support/test_env.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/test_env_internal.h"

namespace wardex::test {

ScopedEnvironment::~ScopedEnvironment() {
  for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
    it->second ? SetEnv(it->first.c_str(), *it->second) : UnsetEnv(it->first.c_str());
}

void ScopedEnvironment::Set(const std::string& name, const std::string& value) {
  Unset(name);  // saves the value from before
  SetEnv(name.c_str(), value);
}

void ScopedEnvironment::Unset(const std::string& name) {
  const char* old = getenv(name.c_str());
  saved_.emplace_back(name, old == nullptr ? std::nullopt : std::optional<std::string>(old));
  UnsetEnv(name.c_str());
}

ScopedTestRoot::ScopedTestRoot(bool with_runtime_dir) {
  path_ = MakeTemporaryFolder();
  for (const char* sub : {"root", "config", "data", "state", "cache"}) {
    std::filesystem::create_directories(path_ + "/" + sub);
  }
  Set("WARDEX_ROOT", root());
  Set("XDG_CONFIG_HOME", config_home());
  Set("XDG_DATA_HOME", data_home());
  Set("XDG_STATE_HOME", state_home());
  Set("XDG_CACHE_HOME", path_ + "/cache");
  // Test lines stay out of a developer's journal.
  Set("WARDEX_LOG_JOURNAL", "0");
  if (with_runtime_dir) {
    std::string runtime = path_ + "/runtime";
    MakePrivateFolder(runtime);
    Set("XDG_RUNTIME_DIR", runtime);
  } else {
    Unset("XDG_RUNTIME_DIR");
  }
  // A child that drops to "nobody" must be able to reach its own files.
  OpenToEveryone(path_);
}

ScopedTestRoot::~ScopedTestRoot() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

bool WriteFile(const std::string& path, const std::string& content) {
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  return static_cast<bool>(out);
}

std::string SystemPath(const std::string& path) {
  return std::filesystem::path(path).make_preferred().string();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace wardex::test
