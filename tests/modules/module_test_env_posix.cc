#include <sys/stat.h>

#include <filesystem>

#include "modules/module_test_env.h"
#include "platform/appended_signature.h"

namespace wardex::test {

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

}  // namespace wardex::test
