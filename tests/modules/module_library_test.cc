// The trust check: which signed files load, and the lines for those that
// don't; on Linux also that the digest list is checked before verifying,
// anchors others may change do not count, and nothing waits on a pipe.
#include "modules/module_library.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modules/module_test_env.h"
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "crashlog/log_test_util.h"
#include "platform/appended_signature.h"
#include "platform/system_paths.h"
#endif

namespace wardex {
namespace {

using test::LoggedLine;
using test::ModuleTestEnv;

// Loads |path| through the trust check; true when a library came back.
bool LoadsAndFrees(const std::string& path) {
  platform::LibraryHandle library = LoadModuleLibrary(KaOSAL::KaPath(test::Wide(path)));
  if (library == nullptr) return false;
  EXPECT_TRUE(platform::FreeLibrary(library));
  return true;
}

TEST(TrustCheck, RefusesEveryUntrustedFileWithTheNotTrustedLine) {
  std::vector<test::Tampering> cases = {
      {"unsigned", "unsigned", nullptr},
      {"untrusted authority", "untrusted", nullptr},
      {"trusted authority, unknown publisher", "other-publisher", nullptr},
      {"first byte changed", nullptr, [](std::string& b) { b[0] ^= 0x01; }},
      {"a byte in the middle changed", nullptr, [](std::string& b) { b[b.size() / 2] ^= 0x80; }},
      {"truncated by one byte", nullptr, [](std::string& b) { b.pop_back(); }},
      {"bytes appended after the signature", nullptr,
       [](std::string& b) { b += std::string(40, 'x'); }},
  };
  for (const test::Tampering& format : test::SignatureFormatTamperings()) cases.push_back(format);
  for (const test::Tampering& refused : cases) {
    SCOPED_TRACE(refused.name);
    ModuleTestEnv env;
    const std::string path =
        refused.signer != nullptr
            ? env.SignedCopy(test::kTestModule, refused.signer, "m/refused.lib")
            : env.Copy(test::kTestModule, "m/refused.lib");
    ASSERT_FALSE(path.empty());
    std::string bytes = test::ReadFile(path);
    if (refused.change != nullptr) refused.change(bytes);
    ASSERT_TRUE(test::WriteFile(path, bytes));
    EXPECT_FALSE(LoadsAndFrees(path));
    EXPECT_EQ(env.LogLines(), (std::vector<LoggedLine>{{3, "ERROR: FATAL - Not trusted " + path}}));
  }
}

TEST(TrustCheck, WardexSignAgreesWithTheLoaderOnEverySignerOfTheTestPki) {
  ModuleTestEnv env;
  int trusted = 0;
  int refused = 0;
  for (const std::string& signer : ModuleTestEnv::Signers()) {
    SCOPED_TRACE(signer);
    const std::string path = env.SignedCopy(test::kTestModule, signer, "m/" + signer + ".lib");
    ASSERT_FALSE(path.empty());
    const bool loaded = LoadsAndFrees(path);
    EXPECT_EQ(ModuleTestEnv::VerifyWithTool(path), loaded ? 0 : 1);
    (loaded ? trusted : refused) += 1;
  }
  // Both verdicts occur, so that agreement means something.
  EXPECT_GT(trusted, 0);
  EXPECT_GT(refused, 0);
}

// The signer names each certificate gives are the code signature test's; the
// loader's agreement with wardex-sign on every signer is the test above. The
// other publishers' fragments are the product's own choice: not restated.
// Kestrel Labs' is the one fragment written both ways.
TEST(TrustCheck, PublisherFragmentsAreMatchedAsLowerCaseSubstrings) {
  const struct {
    const char16_t* signer;
    bool trusted;
  } cases[] = {
      {u"Corvane Software GmbH", true}, {u"CORVANE", true},
      {u"Megacorvanes Ltd", true},      {u"Kestrel-Labs Oy", true},
      {u"KestrelLabs Oy", true},        {u"Kestrel Labs Oy", false},
      {u"Corvan Software", false},      {u"", false},
      {u"Quillmark Tools Ltd", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsTrustedPublisher(c.signer), c.trusted) << test::Narrow(c.signer);
  }
}

#ifndef _WIN32

TEST(TrustCheck, DigestListOtherThanTheSignersIsRefusedBeforeVerifying) {
  // The signature's list of digest algorithms is covered by no signature;
  // CMS_verify leaks when one of them cannot be set up, so the list must be
  // refused before it is called.
  const std::string kSha256("\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x01", 11);
  const struct {
    const char* name;
    std::string oid;  // replaces the listed SHA-256, same length
  } cases[] = {
      {"unknown algorithm", std::string("\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x7F", 11)},
      {"another digest than the signer's (SHA-512)",
       std::string("\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x03", 11)},
      {"a signature algorithm that names SHA-256",
       std::string("\x06\x09\x2A\x86\x48\x86\xF7\x0D\x01\x01\x0B", 11)},
  };
  test::ModuleTestEnv env;
  const std::string original = test::ReadFile(test::kTestModule);
  const auto anchors = platform::TrustAnchors::FromFolder(env.trust_folder());
  const size_t listed = original.find(kSha256, platform::StripSignature(original).size());
  ASSERT_NE(listed, std::string::npos);
  for (const auto& c : cases) {
    std::string bytes = original;
    bytes.replace(listed, kSha256.size(), c.oid);
    const auto verdict = platform::VerifySignedImage(reinterpret_cast<const uint8_t*>(bytes.data()),
                                                     bytes.size(), anchors);
    EXPECT_EQ(verdict.status, platform::SignatureStatus::kMalformed) << c.name;
  }
}

TEST(TrustCheck, AnchorsThatAnotherUserMayChangeAreIgnored) {
  constexpr uid_t kKeep = static_cast<uid_t>(-1);  // what chown leaves as it is
  const struct {
    const char* what;
    bool folder;  // the trust folder, else its anchor file
    mode_t mode;
    uid_t owner;
  } cases[] = {
      {"anchor writable by its group", false, 0664, kKeep},
      {"anchor writable by others", false, 0646, kKeep},
      {"anchor of another user", false, 0644, test::kNobodyUid},
      {"folder writable by its group", true, 0775, kKeep},
      {"folder writable by others", true, 0757, kKeep},
      {"folder of another user", true, 0755, test::kNobodyUid},
  };
  for (const auto& c : cases) {
    if (c.owner != kKeep && !test::RunningAsRoot()) {
      std::printf("skipped \"%s\": only root may give files away\n", c.what);
      continue;
    }
    SCOPED_TRACE(c.what);
    ModuleTestEnv env;
    const std::string changed = c.folder ? env.trust_folder() : env.trust_folder() + "/root-ca.pem";
    ASSERT_EQ(chmod(changed.c_str(), c.mode), 0);
    ASSERT_EQ(chown(changed.c_str(), c.owner, c.owner), 0);
    const std::string path = env.Copy(test::kTestModule, "m/ok.so");
    EXPECT_FALSE(LoadsAndFrees(path));
    EXPECT_EQ(env.LogLines(), (std::vector<LoggedLine>{{3, "ERROR: FATAL - Not trusted " + path}}));
  }
}

TEST(TrustCheck, RelativeMachineRootIsIgnored) {
  // Relative to the working directory, "root" would name the test's own root
  // and its anchor; ignored, the root is "/", which holds no test anchor.
  ModuleTestEnv env;
  const std::string path = env.Copy(test::kTestModule, "m/ok.so");
  const std::string previous = std::filesystem::current_path();
  std::filesystem::current_path(env.root().path());
  env.env().Set("WARDEX_ROOT", "root");
  EXPECT_EQ(test::Narrow(platform::GetIgnoredMachineRoot()), "root");  // for the agent's log line
  const bool loaded = LoadsAndFrees(path);
  std::filesystem::current_path(previous);
  EXPECT_FALSE(loaded);
}

TEST(TrustCheck, PipesAndFoldersAreNeverWaitedOn) {
  ModuleTestEnv env;
  const std::string fifo = env.root().path() + "/m/Fifo.so";
  const std::string folder = env.root().path() + "/m/Folder.so";
  ASSERT_EQ(mkdir((env.root().path() + "/m").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  // In a child, which a wait on a pipe would leave to its alarm: exit code 1
  // when a library loaded.
  const auto load_in_child = [](const std::string& path) {
    return test::RunInChild([&] {
      alarm(10);
      _exit(LoadsAndFrees(path) ? 1 : 0);
    });
  };
  // In place of the file: not trusted.
  for (const std::string& path : {fifo, folder}) {
    SCOPED_TRACE(path);
    env.ClearLog();
    EXPECT_TRUE(load_in_child(path).ExitedWith(0));
    EXPECT_EQ(env.LogLines(), (std::vector<LoggedLine>{{3, "ERROR: FATAL - Not trusted " + path}}));
  }
  // Among the anchors: skipped.
  ASSERT_EQ(mkfifo((env.trust_folder() + "/a-pipe.pem").c_str(), 0644), 0);
  const std::string path = env.Copy(test::kTestModule, "m/ok.so");
  env.ClearLog();
  EXPECT_TRUE(load_in_child(path).ExitedWith(1));
  EXPECT_TRUE(env.LogLines().empty());
}

TEST(TrustCheck, TrustedFileThatFailsToLoadLogsTheLoadersMessageAtTraceLevel) {
  ModuleTestEnv env;
  const std::string text = env.root().path() + "/text.bin";
  ASSERT_TRUE(test::WriteFile(text, std::string(4096, 'x')));
  const std::string path = env.SignedCopy(text, "publisher", "m/NotElf.so");
  ASSERT_FALSE(path.empty());
  EXPECT_FALSE(LoadsAndFrees(path));
  const std::vector<LoggedLine> lines = env.LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].level, 14);
  // Named by its path, not by the descriptor it was loaded through.
  EXPECT_EQ(lines[0].text.rfind("LOAD DLL ERROR: " + path + ": ", 0), 0u) << lines[0].text;
  EXPECT_EQ(lines[0].text.find("/proc/self/fd"), std::string::npos) << lines[0].text;
}

TEST(TrustCheck, UnreadableFileIsNotTrustedRatherThanNotFound) {
  if (!test::RunningAsRoot()) GTEST_SKIP() << "needs root to drop to another user";
  ModuleTestEnv env;
  const std::string path = env.Copy(test::kTestModule, "m/secret.so");
  ASSERT_EQ(chmod(path.c_str(), 0600), 0);
  // The child, as another user, must still be able to write the log.
  env.ClearLog();
  ASSERT_EQ(chmod((env.root().path() + "/wardex.log").c_str(), 0666), 0);
  const int status = test::RunAsUnprivileged([&] { return LoadsAndFrees(path) ? 1 : 0; });
  EXPECT_EQ(status, 0);
  const std::vector<LoggedLine> lines = env.LogLines();
  EXPECT_NE(
      std::find(lines.begin(), lines.end(), LoggedLine{3, "ERROR: FATAL - Not trusted " + path}),
      lines.end());
}

#endif

}  // namespace
}  // namespace wardex
