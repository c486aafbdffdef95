// wardex-reg against a staged machine hive: what support staff type, what the
// agent then reads.

#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "config/registry.h"
#include "support/test_env.h"

namespace wardex {
namespace {

// The tool's exit code and what it wrote to stdout and stderr.
std::pair<int, std::string> RunTool(const std::string& args,
                                    const std::string& tool = WARDEX_REG_PATH) {
  std::string output;
  const int exit_code = test::RunShell(tool + " " + args + " 2>&1", &output);
  return {exit_code, output};
}

const std::string kKey = "'HKLM\\SOFTWARE\\Corvane\\Brisko'";

TEST(WardexReg, RepairsTheProductKeyAsTheAgentReadsIt) {
  test::ScopedTestRoot root;
  // arguments, exit code, a part of the output
  const std::tuple<std::string, int, std::string> steps[] = {
      {"set " + kKey + " /v Tray_StartCount /t REG_DWORD /d 5", 0,
       "The operation completed successfully."},
      {"set " + kKey + " /v LAST_NEWSFEED_CHECK /t REG_BINARY /d @1700000000", 0, "completed"},
      {"set " + kKey + " /v Name /d Grüße", 0, "completed"},
      {"query " + kKey, 0,
       "    LAST_NEWSFEED_CHECK    REG_BINARY    00F1536500000000    (@1700000000 = "
       "2023-11-14 22:13:20 UTC)\n"},
      {"query 'hklm\\software\\corvane\\brisko' /v tray_startcount", 0,
       "tray_startcount    REG_DWORD    0x5"},
      {"query " + kKey + " /reg:64", 1,
       "ERROR: The system was unable to find the specified registry key or value."},
      {"export " + kKey + " -", 0,
       "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Brisko]\n"
       "\"LAST_NEWSFEED_CHECK\"=hex:00,f1,53,65,00,00,00,00\n\"Name\"=\"Grüße\"\n"
       "\"Tray_StartCount\"=dword:00000005\n"},
      // Numbers are decimal unless 0x-hex, leading zeros or not; /f as "reg" users type it.
      {"set " + kKey + " /v Ten /t REG_DWORD /d 010 /f", 0, "completed"},
      {"set " + kKey + " /v Nine /t REG_DWORD /d 09", 0, "completed"},
      {"set " + kKey + " /v Big /t REG_QWORD /d 0X1f", 0, "completed"},
      {"query " + kKey + " /v Ten", 0, "Ten    REG_DWORD    0xa\n"},
      {"query " + kKey + " /v Nine", 0, "Nine    REG_DWORD    0x9\n"},
      {"query " + kKey + " /v Big", 0, "Big    REG_QWORD    0x1f\n"},
      {"set " + kKey + " /v X /t REG_DWORD /d 0x", 2, "Invalid number"},
      {"set " + kKey + " /v X /t REG_DWORD /d 4294967296", 2,
       "ERROR: Invalid number for REG_DWORD: 4294967296"},
      // A string with a line break is exported as its bytes, one valid line.
      {"set " + kKey + " /v Lines /d \"$(printf 'a\\nb')\"", 0, "completed"},
      {"export " + kKey + " - /y", 0, "\"Lines\"=hex(1):61,00,0a,00,62,00,00,00\n\"Name\""},
      {"set " + kKey + " /v X /t REG_BINARY /d 0g", 2, "Invalid hex data"},
      {"query 'HKXY\\SOFTWARE'", 2, "Invalid key name: HKXY\\SOFTWARE"},
      {"query " + kKey + " /x", 2, "Invalid option: /x"},
      {"--help", 0, "wardex-reg export KEY FILE"},
  };
  for (const auto& [args, exit_code, expected] : steps) {
    const auto [code, output] = RunTool(args);
    EXPECT_EQ(code, exit_code) << args << "\n" << output;
    EXPECT_NE(output.find(expected), std::string::npos) << args << "\n" << output;
  }
  // The agent's own reader sees what was set, in its native view.
  CRegistry key(false);
  ASSERT_TRUE(key.SetRootKey(HKEY_LOCAL_MACHINE));
  ASSERT_TRUE(key.Open(u"SOFTWARE\\Corvane\\Brisko", false));
  EXPECT_EQ(
      std::tuple(key.ReadDWord(u"Tray_StartCount", 0), key.ReadQWord(u"LAST_NEWSFEED_CHECK", 0)),
      std::tuple(5u, 1700000000));
  EXPECT_EQ(RunTool("delete " + kKey + " /v Tray_StartCount").first, 0);
  EXPECT_EQ(key.ReadDWord(u"Tray_StartCount", 9), 9u);
  EXPECT_EQ(RunTool("delete " + kKey + " /v Tray_StartCount").first, 1);
  EXPECT_EQ(RunTool("delete 'HKLM\\SOFTWARE\\Corvane'").first, 0);
  EXPECT_FALSE(key.ValueExists(u"Name"));
}

TEST(WardexReg, AnUnprivilegedUserIsToldAccessIsDenied) {
  if (!test::RunningAsRoot()) GTEST_SKIP() << "needs root to drop to an unprivileged user";
  test::ScopedTestRoot root;
  ASSERT_EQ(RunTool("set " + kKey + " /v Tray_StartCount /t REG_DWORD /d 5").first, 0);
  const std::string tool = test::ReachableCopy(WARDEX_REG_PATH, root.path());
  ASSERT_FALSE(tool.empty());
  int status = test::RunAsUnprivileged([&tool] {
    const auto [read, shown] = RunTool("query " + kKey + " /v Tray_StartCount", tool);
    if (read != 0 || shown.find("0x5") == std::string::npos) return 10;
    const auto [write, told] =
        RunTool("set " + kKey + " /v Tray_StartCount /t REG_DWORD /d 6", tool);
    if (write != 1) return 11;
    return told.find("ERROR: Access is denied.") != std::string::npos ? 0 : 12;
  });
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace wardex
