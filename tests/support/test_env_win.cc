#include <windows.h>

#include <cstdlib>
#include <filesystem>

#include "support/test_env.h"
#include "support/test_env_internal.h"

namespace wardex::test {

void SetEnv(const char* name, const std::string& value) { _putenv_s(name, value.c_str()); }

// An empty value removes the variable from the C runtime's environment.
void UnsetEnv(const char* name) { _putenv_s(name, ""); }

std::string MakeTemporaryFolder() {
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (unsigned attempt = GetTickCount() ^ GetCurrentProcessId();; ++attempt) {
    const std::filesystem::path folder = base / ("wardex-test-" + std::to_string(attempt));
    if (CreateDirectoryW(folder.c_str(), nullptr)) return folder.string();
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return {};
  }
}

// A folder the user creates is the user's alone: its ACL inherits from the
// user's temporary folder.
void MakePrivateFolder(const std::string& path) { CreateDirectoryA(path.c_str(), nullptr); }

// No other account runs the Windows tests.
void OpenToEveryone(const std::string&) {}

}  // namespace wardex::test
