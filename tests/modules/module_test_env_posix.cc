#include <sys/stat.h>

#include <filesystem>

#include "modules/module_test_env.h"
#include "platform/appended_signature.h"

namespace wardex::test {

namespace {

size_t SignatureStart(const std::string& bytes) { return platform::StripSignature(bytes).size(); }

}  // namespace

// A changed trailer byte is the appended signature test's case (every byte
// of the signature and its trailer flipped).
std::vector<Tampering> SignatureFormatTamperings() {
  return {
      {"last content byte changed", nullptr,
       [](std::string& b) { b[SignatureStart(b) - 1] ^= 0x80; }},
      {"byte appended to the content", nullptr,
       [](std::string& b) { b.insert(SignatureStart(b), 1, '\0'); }},
      {"trailer without signature", nullptr,
       [](std::string& b) { b.erase(SignatureStart(b), b.size() - SignatureStart(b) - 32); }},
      {"signature length one too small", nullptr,
       [](std::string& b) { b[b.size() - 29] = static_cast<char>(b[b.size() - 29] - 1); }},
  };
}

void ModuleTestEnv::TrustTestAuthority() {
  std::filesystem::create_directories(trust_folder());
  std::filesystem::copy_file(PkiPath("root-ca.pem"), trust_folder() + "/root-ca.pem");
  chmod((trust_folder() + "/root-ca.pem").c_str(), 0644);
}

std::string ModuleTestEnv::SignedCopy(const std::string& source, const std::string& signer,
                                      const std::string& target) {
  std::string signed_file = platform::StripSignature(ReadFile(source));
  const size_t plus = signer.find('+');
  const std::string name = signer.substr(0, plus);
  const std::string chain = plus == std::string::npos
                                ? std::string()
                                : ReadFile(PkiPath(signer.substr(plus + 1) + ".pem"));
  const platform::SignerCredentials credentials{ReadFile(PkiPath(name + ".key")),
                                                ReadFile(PkiPath(name + ".pem")), chain};
  std::string error;
  if (signer != "unsigned" && !platform::SignImage(signed_file, credentials, signed_file, error)) {
    return {};
  }
  const std::string path = FullPath(target);
  return WriteFile(path, signed_file) ? path : std::string();
}

std::vector<std::string> ModuleTestEnv::Signers() {
  std::vector<std::string> signers;
  for (const auto& key : std::filesystem::directory_iterator(WARDEX_TEST_PKI_DIR)) {
    if (key.path().extension() == ".key") signers.push_back(key.path().stem());
  }
  return signers;
}

int ModuleTestEnv::VerifyWithTool(const std::string& path) {
  return RunShell(std::string(WARDEX_SIGN_TOOL) + " --verify " + path + " >/dev/null");
}

}  // namespace wardex::test
