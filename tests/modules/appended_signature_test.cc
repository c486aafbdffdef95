// The appended signature format: every byte of it counts, its trailer, signing, and the
// wardex-sign tool.
#include "platform/appended_signature.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "modules/module_test_env.h"

namespace wardex {
namespace {

using test::ModuleTestEnv;

std::string Sign(const std::string& content, const std::string& signer,
                 const std::string& chain = {}) {
  platform::SignerCredentials credentials{
      test::ReadFile(ModuleTestEnv::PkiPath(signer + ".key")),
      test::ReadFile(ModuleTestEnv::PkiPath(signer + ".pem")),
      chain.empty() ? std::string() : test::ReadFile(ModuleTestEnv::PkiPath(chain + ".pem"))};
  std::string signed_file, error;
  EXPECT_TRUE(platform::SignImage(content, credentials, signed_file, error)) << error;
  return signed_file;
}

platform::SignatureVerdict Verify(const std::string& image, const platform::TrustAnchors& anchors) {
  return platform::VerifySignedImage(reinterpret_cast<const uint8_t*>(image.data()), image.size(),
                                     anchors);
}

platform::TrustAnchors TestAnchors() {
  platform::TrustAnchors anchors;
  EXPECT_EQ(anchors.AddPem(test::ReadFile(ModuleTestEnv::PkiPath("root-ca.pem"))), 1);
  return anchors;
}

TEST(AppendedSignature, EveryByteOfASignatureAndItsTrailerCounts) {
  const platform::TrustAnchors anchors = TestAnchors();
  const std::string chained = Sign("library bytes", "chained-publisher", "intermediate-ca");
  ASSERT_TRUE(Verify(chained, anchors).trusted());
  const size_t signature_start = std::string("library bytes").size();
  std::string bytes = chained;
  for (size_t i = signature_start; i < chained.size(); ++i) {
    for (const char flip : {'\x01', '\x80'}) {
      bytes[i] = static_cast<char>(chained[i] ^ flip);
      EXPECT_FALSE(Verify(bytes, anchors).trusted()) << "byte " << i;
      bytes[i] = chained[i];
    }
  }
}

TEST(AppendedSignature, TrailerLayout) {
  const std::string trailer = platform::MakeSignatureTrailer(0x01020304);
  ASSERT_EQ(trailer.size(), 32u);
  EXPECT_EQ(trailer.substr(0, 4), std::string("\x01\x02\x03\x04", 4));
  EXPECT_EQ(trailer.substr(4), "~Wardex signature appended~\n");
  struct Case {
    uint32_t signature_size;
    uint64_t file_size;
    bool valid;
  };
  const Case cases[] = {
      {258, 258 + 32, true},  // a signature and nothing signed
      {258, 1000, true},
      {258, 258 + 31, false},  // the signature would start before the file
      {258, 31, false},
      {0, 1000, false},
      {platform::kMaxSignatureSize, platform::kMaxSignatureSize + 32, true},
      {platform::kMaxSignatureSize + 1, 1 << 30, false},
  };
  for (const Case& c : cases) {
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

TEST(AppendedSignature, ResigningReplacesTheOldSignature) {
  const std::string content(5000, 'c');
  const std::string once = Sign(content, "untrusted");
  const std::string twice = Sign(once, "publisher");
  EXPECT_EQ(platform::StripSignature(twice), content);
  EXPECT_EQ(platform::StripSignature(content), content);
  EXPECT_TRUE(Verify(twice, TestAnchors()).trusted());
  EXPECT_LT(twice.size(), once.size() + 200);  // not stacked
}

TEST(AppendedSignature, SigningNeedsAMatchingKey) {
  platform::SignerCredentials mismatched{test::ReadFile(ModuleTestEnv::PkiPath("publisher.key")),
                                         test::ReadFile(ModuleTestEnv::PkiPath("expired.pem")),
                                         {}};
  std::string signed_file, error;
  EXPECT_FALSE(platform::SignImage("x", mismatched, signed_file, error));
  EXPECT_NE(error.find("does not belong"), std::string::npos) << error;
  platform::SignerCredentials garbage{"not a key", "not a cert", {}};
  EXPECT_FALSE(platform::SignImage("x", garbage, signed_file, error));
  EXPECT_NE(error.find("private key"), std::string::npos) << error;
}

// Runs the tool; returns its exit status and leaves its output in |output|.
int RunTool(const std::string& arguments, std::string& output, const std::string& folder) {
  const std::string out_file = folder + "/tool.out";
  const int status = std::system(
      (std::string(WARDEX_SIGN_TOOL) + " " + arguments + " >" + out_file + " 2>&1").c_str());
  output = test::ReadFile(out_file);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(WardexSign, SignsPastAPlantedLinkVerifiesAndTellsAGoodFileFromATamperedOne) {
  ModuleTestEnv env;
  const std::string folder = env.root().path();
  const std::string file = folder + "/lib.so";
  ASSERT_TRUE(test::WriteFile(file, std::string(4096, 'L')));
  const std::string key = ModuleTestEnv::PkiPath("publisher.key");
  const std::string cert = ModuleTestEnv::PkiPath("publisher.pem");
  // The temporary name a predictable writer would use, planted as a link.
  const std::string victim = folder + "/victim.txt";
  ASSERT_TRUE(test::WriteFile(victim, "keep me"));
  ASSERT_EQ(symlink(victim.c_str(), (file + ".wardex-sign.tmp").c_str()), 0);
  std::string output;
  ASSERT_EQ(RunTool("--key " + key + " --cert " + cert + " " + file, output, folder), 0) << output;
  EXPECT_EQ(test::ReadFile(victim), "keep me");
  struct stat info {};
  ASSERT_EQ(lstat(file.c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_EQ(RunTool("--verify " + file, output, folder), 0) << output;  // $WARDEX_ROOT's anchors
  EXPECT_NE(output.find("signer: Corvane Software GmbH\nverdict: trusted\n"), std::string::npos)
      << output;

  std::string bytes = test::ReadFile(file);
  bytes[100] ^= 0x20;
  ASSERT_TRUE(test::WriteFile(file, bytes));
  EXPECT_EQ(RunTool("--verify " + file, output, folder), 1);
  EXPECT_NE(output.find("verdict: NOT TRUSTED - signature does not match the file"),
            std::string::npos)
      << output;

  EXPECT_EQ(RunTool("--verify --trust-dir " + folder + "/empty " + file, output, folder), 1);
  const std::string copy = folder + "/copy.so";
  ASSERT_EQ(RunTool("--key " + key + " --cert " + cert + " --output " + copy + " " + file, output,
                    folder),
            0);
  EXPECT_EQ(RunTool("--verify " + copy, output, folder), 0)
      << output;  // re-signed: the old signature replaced
  EXPECT_EQ(RunTool("--help", output, folder), 0);
  EXPECT_NE(output.find("Usage:"), std::string::npos);
  EXPECT_EQ(RunTool("", output, folder), 2);
  EXPECT_EQ(RunTool("--key " + key + " " + file, output, folder), 2);
  EXPECT_NE(output.find("signing needs --key and --cert"), std::string::npos) << output;
  EXPECT_EQ(RunTool("--frobnicate " + file, output, folder), 2);
  EXPECT_EQ(RunTool("--verify " + folder + "/missing.so", output, folder), 3);
  EXPECT_EQ(
      RunTool("--key " + key + " --cert " + ModuleTestEnv::PkiPath("expired.pem") + " " + file,
              output, folder),
      3);
}

}  // namespace
}  // namespace wardex
