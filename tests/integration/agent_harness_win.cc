// The harness on Windows under Wine: the trust anchor in the prefix, and a
// product key and tracking log that start empty.
#include <windows.h>

#include <filesystem>

#include "integration/agent_harness.h"
#include "support/wine_desktop_win.h"

namespace wardex::test {

namespace fs = std::filesystem;

const char kAgentExecutable[] = "Wardex";

void AgentTree::StageProgram(const std::string& from, const std::string& to) {
  StageFile(from, to);
}

// The prefix's registry and local application data folder outlive a tree.
void AgentTree::StagePlatform() {
  EXPECT_TRUE(TrustRootInWinePrefix(WARDEX_TEST_CA_PEM));
  HKEY vendor = nullptr;  // in the 32-bit view, as the agent keeps it
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Corvane", 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                    &vendor) == ERROR_SUCCESS) {
    RegDeleteTreeW(vendor, L"WardexTest");
    RegCloseKey(vendor);
  }
  std::error_code absent;
  fs::remove(TrackingLog(), absent);
}

// On Windows the Console module shows its windows itself.
void AgentTree::AddDesktopConsole() {
  StageFile(WARDEX_CONSOLE_MODULE_SO, app_dir_ + "/modules/consolemodule/ConsoleModule.dll");
}

std::vector<std::string> AgentTree::Launch(const std::string& program) const { return {program}; }

void AgentTest::SetUp() {
  ASSERT_TRUE(RunningUnderWine()) << "the agent tests add a root authority: Wine only";
  ASSERT_GT(GetSystemMetrics(SM_CXSCREEN), 1)
      << "no screen: these tests need an X display (the stage runs them under xvfb-run)";
}

}  // namespace wardex::test
