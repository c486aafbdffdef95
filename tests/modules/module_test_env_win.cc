#include <windows.h>
// After <windows.h>, which it needs.
#include <wincrypt.h>

#include <filesystem>

#include "modules/module_test_env.h"

namespace wardex::test {

namespace {

bool UnderWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

}  // namespace

// Only in a Wine prefix, which the build made for the tests: on a real
// machine a test must never add a root authority.
void ModuleTestEnv::TrustTestAuthority() {
  if (!UnderWine()) return;
  const std::string pem = ReadFile(PkiPath("root-ca.pem"));
  BYTE der[4096];
  DWORD size = sizeof(der);
  if (!CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                            der, &size, nullptr, nullptr)) {
    return;
  }
  // The registry store: Wine's system store does not keep what is added to it.
  const HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0,
                                        CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (root == nullptr) return;
  CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, der, size, CERT_STORE_ADD_USE_EXISTING,
                                   nullptr);
  CertCloseStore(root, 0);
}

std::string ModuleTestEnv::SignedCopy(const std::string& source, const std::string& signer,
                                      const std::string& target) {
  const std::filesystem::path variant = std::filesystem::path(WARDEX_TEST_SIGNED_FIXTURES) /
                                        signer / std::filesystem::path(source).filename();
  return std::filesystem::exists(variant) ? Copy(variant.string(), target) : std::string();
}

}  // namespace wardex::test
