#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "modules/module_test_env.h"
#include "support/wine_desktop_win.h"

namespace wardex::test {

namespace {

uint32_t Read32(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  std::memcpy(&value, bytes.data() + at, sizeof(value));
  return value;
}

// Where the PE file's certificate directory entry (offset, then size) sits.
size_t CertificateDirectory(const std::string& bytes) {
  const size_t optional_header = Read32(bytes, 0x3C) + 24;
  const bool pe32_plus = bytes[optional_header] == 0x0B && bytes[optional_header + 1] == 0x02;
  return optional_header + (pe32_plus ? 112 : 96) + 4 * 8;
}

size_t CertificateTable(const std::string& bytes) {
  return Read32(bytes, CertificateDirectory(bytes));
}

}  // namespace

std::vector<Tampering> SignatureFormatTamperings() {
  return {
      {"last byte before the certificate table changed", nullptr,
       [](std::string& b) { b[CertificateTable(b) - 1] ^= 0x80; }},
      {"bytes inserted before the certificate table", nullptr,
       [](std::string& b) {
         const size_t table = CertificateTable(b);
         b.insert(table, 8, '\0');
         const uint32_t moved = static_cast<uint32_t>(table + 8);
         std::memcpy(b.data() + CertificateDirectory(b), &moved, sizeof(moved));
       }},
      {"certificate directory shortened", nullptr,
       [](std::string& b) {
         const uint32_t shorter = Read32(b, CertificateDirectory(b) + 4) - 8;
         std::memcpy(b.data() + CertificateDirectory(b) + 4, &shorter, sizeof(shorter));
       }},
      // Wine's trust provider misses this one; the chain check does not.
      {"a byte of a certificate in the signature changed", nullptr,
       [](std::string& b) {
         b[CertificateTable(b) + (b.size() - CertificateTable(b)) / 2] ^= 0x01;
       }},
  };
}

// Only in a Wine prefix, which the build made for the tests.
void ModuleTestEnv::TrustTestAuthority() {
  static_cast<void>(TrustRootInWinePrefix(PkiPath("root-ca.pem")));
}

std::string ModuleTestEnv::SignedCopy(const std::string& source, const std::string& signer,
                                      const std::string& target) {
  const std::filesystem::path variant = std::filesystem::path(WARDEX_TEST_SIGNED_FIXTURES) /
                                        signer / std::filesystem::path(source).filename();
  return std::filesystem::exists(variant) ? Copy(variant.string(), target) : std::string();
}

std::vector<std::string> ModuleTestEnv::Signers() {
  std::vector<std::string> signers;
  for (const auto& variant : std::filesystem::directory_iterator(WARDEX_TEST_SIGNED_FIXTURES)) {
    signers.push_back(variant.path().filename().string());
  }
  return signers;
}

int ModuleTestEnv::VerifyWithTool(const std::string& path) {
  const std::string tool = std::filesystem::absolute(WARDEX_SIGN_TOOL).make_preferred().string();
  // cmd.exe drops the first and the last quote of a line that starts with one.
  return std::system(("\"\"" + tool + "\" --verify \"" + path + "\" >NUL\"").c_str());
}

}  // namespace wardex::test
