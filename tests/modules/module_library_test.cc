// The trust check: which signed files load, and the lines for those that don't.
#include "modules/module_library.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modules/library_loader_test_util.h"
#include "modules/module_test_env.h"

namespace wardex {
namespace {

using test::LoadsAndFrees;
using test::LoggedLine;
using test::ModuleTestEnv;
using test::Rewrite;

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
  const std::string module = ModuleTestEnv::FixturePath("test_module");
  for (const test::Tampering& refused : cases) {
    SCOPED_TRACE(refused.name);
    ModuleTestEnv env;
    const std::string path = refused.signer != nullptr
                                 ? env.SignedCopy(module, refused.signer, "m/refused.lib")
                                 : env.Copy(module, "m/refused.lib");
    ASSERT_FALSE(path.empty());
    if (refused.change != nullptr) Rewrite(path, refused.change);
    EXPECT_FALSE(LoadsAndFrees(path));
    EXPECT_EQ(env.LogLines(), (std::vector<LoggedLine>{{3, "ERROR: FATAL - Not trusted " + path}}));
  }
}

TEST(TrustCheck, MissingFileGivesTheNotFoundLine) {
  ModuleTestEnv env;
  const std::string path = env.root().path() + "/modules/Nothing/Nothing.so";
  EXPECT_FALSE(LoadsAndFrees(path));
  EXPECT_EQ(env.LogLines(), (std::vector<LoggedLine>{{3, "ERROR: Not found " + path}}));
}

TEST(TrustCheck, WardexSignAgreesWithTheLoaderOnEverySignerOfTheTestPki) {
  ModuleTestEnv env;
  int trusted = 0;
  int refused = 0;
  for (const std::string& signer : ModuleTestEnv::Signers()) {
    SCOPED_TRACE(signer);
    const std::string path =
        env.SignedCopy(ModuleTestEnv::FixturePath("test_module"), signer, "m/" + signer + ".lib");
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
// loader's agreement with wardex-sign on every signer is the test above.
TEST(TrustCheck, PublisherFragmentsAreMatchedAsLowerCaseSubstrings) {
  struct Case {
    const char16_t* signer;
    bool trusted;
  };
  const Case cases[] = {
      {u"Corvane Software GmbH", true},
      {u"CORVANE", true},
      {u"Megacorvanes Ltd", true},
      {u"Nimbexia Systems Inc", true},  // a fragment inside a word
      {u"Kestrel-Labs Oy", true},
      {u"KestrelLabs Oy", true},
      {u"Kestrel Labs Oy", false},
      {u"Corvan Software", false},
      {u"", false},
      {u"Ventrosoft Inc", true},
      {u"Orbiware", true},
      {u"Halvard AS", true},
      {u"Quillmark Tools Ltd", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsTrustedPublisher(c.signer), c.trusted) << test::Narrow(c.signer);
  }
}

}  // namespace
}  // namespace wardex
