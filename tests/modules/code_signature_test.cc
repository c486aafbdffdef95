// The verdict on a signed library file and the signer name it reads, for each
// certificate of the test PKI, through the open file as the loader checks it;
// on Linux also the appended signature format (every byte of it counts, its
// trailer, signing) and the wardex-sign tool.
#include "platform/code_signature.h"

#include <gtest/gtest.h>

#include <string>

#include "modules/module_test_env.h"
#include "platform/library_loader.h"
#ifndef _WIN32
#include <unistd.h>

#include <filesystem>

#include "platform/appended_signature.h"
#endif

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

TEST(CodeSignature, VerdictAndSignerNameForEachCertificateAndChangedContent) {
  const struct {
    const char* signer;
    SignatureStatus status;
    const char16_t* name;
  } cases[] = {
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
  for (const auto& c : cases) {
    SCOPED_TRACE(c.signer);
    const std::string path =
        env.SignedCopy(test::kTestModule, c.signer, std::string("m/") + c.signer + ".lib");
    ASSERT_FALSE(path.empty());
    const platform::SignatureVerdict verdict = VerifyFile(path, anchors);
    EXPECT_EQ(verdict.status, c.status) << verdict.detail;
    EXPECT_EQ(test::Narrow(verdict.signer_name), test::Narrow(c.name));
  }
  // No anchors, no trust.
  EXPECT_EQ(VerifyFile(test::kTestModule, platform::TrustAnchors()).status,
            SignatureStatus::kUntrusted);
  // Inside the image, changed content no longer matches the signature (a
  // changed first byte is the trust check's case).
  const std::string original = test::ReadFile(test::kTestModule);
  for (const size_t offset : {original.size() / 3, original.size() / 2}) {
    std::string bytes = original;
    bytes[offset] ^= 0x20;
    ASSERT_TRUE(test::WriteFile(env.root().path() + "/changed.lib", bytes));
    const platform::SignatureVerdict verdict =
        VerifyFile(env.root().path() + "/changed.lib", anchors);
    EXPECT_EQ(verdict.status, SignatureStatus::kBadSignature) << offset << ": " << verdict.detail;
  }
}

#ifndef _WIN32

TEST(AppendedSignature, EveryByteOfASignatureAndItsTrailerCounts) {
  ModuleTestEnv env;
  const std::string content = env.root().path() + "/content";
  ASSERT_TRUE(test::WriteFile(content, "library bytes"));
  const std::string chained =
      test::ReadFile(env.SignedCopy(content, "chained-publisher+intermediate-ca", "signed.lib"));
  const auto trusted = [anchors = TestAnchors()](const std::string& image) {
    return platform::VerifySignedImage(reinterpret_cast<const uint8_t*>(image.data()), image.size(),
                                       anchors)
        .trusted();
  };
  ASSERT_TRUE(trusted(chained));
  std::string bytes = chained;
  for (size_t i = std::string("library bytes").size(); i < chained.size(); ++i) {
    for (const char flip : {'\x01', '\x80'}) {
      bytes[i] = static_cast<char>(chained[i] ^ flip);
      EXPECT_FALSE(trusted(bytes)) << "byte " << i;
      bytes[i] = chained[i];
    }
  }
}

TEST(AppendedSignature, TrailerLayout) {
  EXPECT_EQ(platform::MakeSignatureTrailer(0x01020304),
            std::string("\x01\x02\x03\x04~Wardex signature appended~\n", 32));
  const struct {
    uint32_t signature_size;
    uint64_t file_size;
    bool valid;
  } cases[] = {
      {258, 258 + 32, true},  // a signature and nothing signed
      {258, 1000, true},
      {258, 258 + 31, false},  // the signature would start before the file
      {258, 31, false},
      {0, 1000, false},
      {platform::kMaxSignatureSize, platform::kMaxSignatureSize + 32, true},
      {platform::kMaxSignatureSize + 1, 1 << 30, false},
  };
  for (const auto& c : cases) {
    const std::string bytes = platform::MakeSignatureTrailer(c.signature_size);
    const auto layout = platform::ParseSignatureTrailer(
        reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), c.file_size);
    ASSERT_EQ(layout.has_value(), c.valid) << c.signature_size << " in " << c.file_size;
    if (layout) {
      EXPECT_EQ(layout->signature_size, c.signature_size);
      EXPECT_EQ(layout->content_size, c.file_size - 32 - c.signature_size);
    }
  }
}

TEST(WardexSign, SignsPastAPlantedLinkVerifiesAndTellsAGoodFileFromATamperedOne) {
  ModuleTestEnv env;
  const std::string folder = env.root().path();
  const std::string file = folder + "/lib.so";
  ASSERT_TRUE(test::WriteFile(file, std::string(4096, 'L')));
  const std::string key = ModuleTestEnv::PkiPath("publisher.key");
  const std::string cert = ModuleTestEnv::PkiPath("publisher.pem");
  std::string output;
  // The tool's exit status; what it wrote, to either stream, in |output|.
  const auto tool = [&output](const std::string& arguments) {
    output.clear();
    return test::RunShell(std::string(WARDEX_SIGN_TOOL) + " " + arguments + " 2>&1", &output);
  };
  // The temporary name a predictable writer would use, planted as a link.
  const std::string victim = folder + "/victim.txt";
  ASSERT_TRUE(test::WriteFile(victim, "keep me"));
  ASSERT_EQ(symlink(victim.c_str(), (file + ".wardex-sign.tmp").c_str()), 0);
  ASSERT_EQ(tool("--key " + key + " --cert " + cert + " " + file), 0) << output;
  EXPECT_EQ(test::ReadFile(victim), "keep me");
  EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(file)));
  EXPECT_EQ(platform::StripSignature(test::ReadFile(file)), std::string(4096, 'L'));
  EXPECT_EQ(tool("--verify " + file), 0) << output;  // $WARDEX_ROOT's anchors
  EXPECT_NE(output.find("signer: Corvane Software GmbH\nverdict: trusted\n"), std::string::npos)
      << output;

  std::string bytes = test::ReadFile(file);
  bytes[100] ^= 0x20;
  ASSERT_TRUE(test::WriteFile(file, bytes));
  EXPECT_EQ(tool("--verify " + file), 1);
  EXPECT_NE(output.find("verdict: NOT TRUSTED - signature does not match the file"),
            std::string::npos)
      << output;

  EXPECT_EQ(tool("--verify --trust-dir " + folder + "/empty " + file), 1);
  const std::string copy = folder + "/copy.so";
  ASSERT_EQ(tool("--key " + key + " --cert " + cert + " --output " + copy + " " + file), 0);
  EXPECT_EQ(tool("--verify " + copy), 0) << output;
  // Re-signed: the old signature replaced, not stacked under the new one.
  EXPECT_EQ(platform::StripSignature(test::ReadFile(copy)),
            platform::StripSignature(test::ReadFile(file)));
  EXPECT_EQ(tool("--help"), 0);
  EXPECT_NE(output.find("Usage:"), std::string::npos);
  EXPECT_EQ(tool(""), 2);
  EXPECT_EQ(tool("--key " + key + " " + file), 2);
  EXPECT_NE(output.find("signing needs --key and --cert"), std::string::npos) << output;
  EXPECT_EQ(tool("--frobnicate " + file), 2);
  EXPECT_EQ(tool("--verify " + folder + "/missing.so"), 3);
  // A certificate that is not the key's, and a key file that holds none.
  EXPECT_EQ(tool("--key " + key + " --cert " + ModuleTestEnv::PkiPath("expired.pem") + " " + file),
            3);
  EXPECT_NE(output.find("does not belong"), std::string::npos) << output;
  EXPECT_EQ(tool("--key " + cert + " --cert " + cert + " " + file), 3);
  EXPECT_NE(output.find("private key"), std::string::npos) << output;
}

#endif

}  // namespace
}  // namespace wardex
