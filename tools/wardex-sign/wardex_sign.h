// wardex-sign: what the command line and the verification share on every
// platform, and what each platform's entry point provides.
#pragma once

#include <string>
#include <vector>

namespace wardex::sign_tool {

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitNotTrusted = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitFailed = 3;

struct Options {
  bool verify = false;
  std::string key, cert, chain, output, trust_dir, file;
};

// Runs the tool on its arguments (UTF-8, without the program name).
int Run(const std::vector<std::string>& arguments);
// Says what was wrong and how to get help; returns kExitUsage.
int UsageError(const std::string& message);

// Per platform: the --help text, and signing FILE as |options| say.
extern const char kUsage[];
int Sign(const Options& options);

}  // namespace wardex::sign_tool
