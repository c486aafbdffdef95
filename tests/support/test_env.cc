#include "support/test_env.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/test_env_internal.h"

namespace wardex::test {
namespace {

constexpr char kUnset[] = "\x01";

}  // namespace

ScopedTestRoot::ScopedTestRoot(bool with_runtime_dir) {
  path_ = MakeTemporaryFolder();
  for (const char* name : {"WARDEX_ROOT", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME",
                           "XDG_CACHE_HOME", "XDG_RUNTIME_DIR", "WARDEX_LOG_JOURNAL"}) {
    const char* old = getenv(name);
    saved_.emplace_back(name, old ? old : kUnset);
  }
  for (const char* sub : {"root", "config", "data", "state", "cache"}) {
    std::filesystem::create_directories(path_ + "/" + sub);
  }
  SetEnv("WARDEX_ROOT", root());
  SetEnv("XDG_CONFIG_HOME", config_home());
  SetEnv("XDG_DATA_HOME", data_home());
  SetEnv("XDG_STATE_HOME", state_home());
  SetEnv("XDG_CACHE_HOME", path_ + "/cache");
  // Test lines stay out of a developer's journal.
  SetEnv("WARDEX_LOG_JOURNAL", "0");
  if (with_runtime_dir) {
    std::string runtime = path_ + "/runtime";
    MakePrivateFolder(runtime);
    SetEnv("XDG_RUNTIME_DIR", runtime);
  } else {
    UnsetEnv("XDG_RUNTIME_DIR");
  }
  // A child that drops to "nobody" must be able to reach its own files.
  OpenToEveryone(path_);
}

ScopedTestRoot::~ScopedTestRoot() {
  for (const auto& [name, value] : saved_) {
    if (value == kUnset) {
      UnsetEnv(name.c_str());
    } else {
      SetEnv(name.c_str(), value);
    }
  }
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
