// The verdict on a signed library file and the signer name it reads, for each
// certificate of the test PKI, through the open file as the loader checks it.
#include "platform/code_signature.h"

#include <gtest/gtest.h>

#include <string>

#include "modules/module_test_env.h"
#include "platform/library_loader.h"

namespace wardex {
namespace {

using platform::SignatureStatus;
using test::ModuleTestEnv;

platform::TrustAnchors TestAnchors() {
  platform::TrustAnchors anchors;
  EXPECT_EQ(anchors.AddPem(test::ReadFile(ModuleTestEnv::PkiPath("root-ca.pem"))), 1);
  return anchors;
}

platform::SignatureVerdict VerifyFile(const std::string& path,
                                      const platform::TrustAnchors& anchors) {
  platform::LibraryFile file;
  EXPECT_TRUE(file.Open(test::Wide(path))) << path;
  return platform::VerifySignedFile(file, anchors);
}

TEST(CodeSignature, VerdictAndSignerNameForEachCertificate) {
  struct Case {
    const char* signer;
    SignatureStatus status;
    const char16_t* name;
  };
  const Case cases[] = {
      {"publisher", SignatureStatus::kTrusted, u"Corvane Software GmbH"},
      {"other-publisher", SignatureStatus::kTrusted, u"Quillmark Tools Ltd"},
      {"ou-only", SignatureStatus::kTrusted, u"Corvane Build Unit"},
      {"o-only", SignatureStatus::kTrusted, u"Corvane Org Only"},
      {"email-only", SignatureStatus::kTrusted, u"builds@corvane.example"},
      {"chained-publisher+intermediate-ca", SignatureStatus::kTrusted,
       u"Orbiware Chained Publisher"},
      {"chained-publisher", SignatureStatus::kUntrusted, u"Orbiware Chained Publisher"},
      {"untrusted", SignatureStatus::kUntrusted, u"Corvane Software GmbH"},
      {"expired", SignatureStatus::kExpired, u"Corvane Software GmbH"},
      {"not-code-signing", SignatureStatus::kNotCodeSigning, u"Corvane Software GmbH"},
      {"no-usage", SignatureStatus::kNotCodeSigning, u"Corvane Software GmbH"},
      {"root-ca", SignatureStatus::kNotCodeSigning, u"Wardex Test Root CA"},
      {"unsigned", SignatureStatus::kUnsigned, u""},
  };
  ModuleTestEnv env;
  const platform::TrustAnchors anchors = TestAnchors();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.signer);
    const std::string path = env.SignedCopy(ModuleTestEnv::FixturePath("test_module"), c.signer,
                                            std::string("m/") + c.signer + ".lib");
    ASSERT_FALSE(path.empty());
    const platform::SignatureVerdict verdict = VerifyFile(path, anchors);
    EXPECT_EQ(verdict.status, c.status) << verdict.detail;
    EXPECT_EQ(test::Narrow(verdict.signer_name), test::Narrow(c.name));
  }
  // No anchors, no trust.
  EXPECT_EQ(VerifyFile(ModuleTestEnv::FixturePath("test_module"), platform::TrustAnchors()).status,
            SignatureStatus::kUntrusted);
}

TEST(CodeSignature, ChangedContentIsRefused) {
  ModuleTestEnv env;
  const std::string original = test::ReadFile(ModuleTestEnv::FixturePath("test_module"));
  const platform::TrustAnchors anchors = TestAnchors();
  for (const size_t offset : {size_t{0}, original.size() / 3, original.size() / 2}) {
    SCOPED_TRACE(offset);
    std::string bytes = original;
    bytes[offset] = static_cast<char>(bytes[offset] ^ 0x20);
    const std::string path = env.root().path() + "/changed.lib";
    ASSERT_TRUE(test::WriteFile(path, bytes));
    const platform::SignatureVerdict verdict = VerifyFile(path, anchors);
    EXPECT_FALSE(verdict.trusted());
    // Inside the image the signature no longer matches; a changed first byte
    // may also make it no library at all.
    if (offset != 0) {
      EXPECT_EQ(verdict.status, SignatureStatus::kBadSignature) << verdict.detail;
    }
  }
}

}  // namespace
}  // namespace wardex
