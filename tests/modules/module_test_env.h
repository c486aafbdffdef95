// The setting of the module tests: a private machine root whose trust folder
// holds the test authority, the log sent to a file of the test's own, the
// built and signed fixture libraries, and the test certificates.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "osal/ka_string.h"
#include "osal/wide_format.h"
#include "support/test_env.h"

namespace wardex::test {

struct LoggedLine {
  int level = 0;
  std::string text;
  bool operator==(const LoggedLine&) const = default;
};

// The built, signed fixture libraries.
inline const std::string kTestModule = WARDEX_TEST_MODULE_SO;
inline const std::string kTestConsole = WARDEX_TEST_CONSOLE_SO;

// A signed test module spoiled for the trust check: re-signed by |signer|
// (a name for ModuleTestEnv::SignedCopy) or kept as the build signed it, then
// its bytes changed by |change|, if given.
struct Tampering {
  const char* name;
  const char* signer;
  void (*change)(std::string& bytes);
};
// The ways of breaking this platform's own signature format (the appended
// trailer, the PE certificate table).
std::vector<Tampering> SignatureFormatTamperings();

class ModuleTestEnv {
 public:
  // |with_runtime_dir|: a private XDG_RUNTIME_DIR, so that IPC channels of
  // tests that run at the same time do not meet (see ScopedTestRoot).
  explicit ModuleTestEnv(bool with_runtime_dir = false);

  const ScopedTestRoot& root() const { return root_; }
  // Sets or removes environment variables until the test ends.
  ScopedTestRoot& env() { return root_; }
  std::string trust_folder() const { return root_.root() + "/etc/wardex/trust"; }

  // A file of the test PKI ("publisher.key", "root-ca.pem").
  static std::string PkiPath(const std::string& file);
  // Every signer SignedCopy knows here.
  static std::vector<std::string> Signers();
  // The exit status of "wardex-sign --verify |path|".
  static int VerifyWithTool(const std::string& path);

  // Copies |source| to |target| (below the test folder when relative) and
  // returns the target's full path as the system writes it.
  std::string Copy(const std::string& source, const std::string& target);
  // Writes |source| to |target|, signed by |signer| of the test PKI instead:
  // "name", or "name+authority" with that intermediate authority in the
  // signature, or "unsigned". On Windows |source| is the test module, whose
  // variants the build signed.
  std::string SignedCopy(const std::string& source, const std::string& signer,
                         const std::string& target);

  // Every line logged since the test began (or since ClearLog).
  std::vector<LoggedLine> LogLines() const;
  void ClearLog() const;
  // The module journal: "<event> <path>" lines of the test module.
  std::vector<std::string> Journal() const;

 private:
  // Makes the test authority an anchor of the machine: on Linux in the test's
  // own root, on Windows in the machine's root store of a Wine prefix.
  void TrustTestAuthority();
  std::string FullPath(const std::string& target) const;

  ScopedTestRoot root_;
  std::string log_file_;
  std::string journal_file_;
};

inline KaOSAL::KaString Wide(const std::string& text) { return {text.c_str(), KaOSAL::KA_CP_UTF8}; }
inline std::string Narrow(const KaOSAL::KaString& text) {
  return KaOSAL::ToUtf8(text.c_str(), text.GetLength());
}

}  // namespace wardex::test
