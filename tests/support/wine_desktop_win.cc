#include "support/wine_desktop_win.h"

// After <windows.h>, which it needs.
#include <wincrypt.h>

#include "support/test_env.h"
#include "support/wait.h"

namespace wardex::test {

std::vector<HWND> TrayIconWindows() {
  std::vector<HWND> icons;
  HWND tray = FindWindowW(L"__winex11_standalone_tray", nullptr);
  for (HWND child = FindWindowExW(tray, nullptr, nullptr, nullptr); child != nullptr;
       child = FindWindowExW(tray, child, nullptr, nullptr)) {
    icons.push_back(child);
  }
  return icons;
}

int PixelsOfColour(HWND window, COLORREF rgb) {
  RECT rect;
  if (!GetWindowRect(window, &rect)) return 0;
  HDC screen = GetDC(nullptr);
  int count = 0;
  for (LONG y = rect.top; y < rect.bottom; ++y) {
    for (LONG x = rect.left; x < rect.right; ++x) count += GetPixel(screen, x, y) == rgb;
  }
  ReleaseDC(nullptr, screen);
  return count;
}

void Click(HWND window, DWORD down, DWORD up) {
  RECT rect;
  GetWindowRect(window, &rect);
  SetCursorPos((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
  INPUT input[2] = {};
  input[0].type = input[1].type = INPUT_MOUSE;
  input[0].mi.dwFlags = down;
  input[1].mi.dwFlags = up;
  SendInput(2, input, sizeof(INPUT));
}

void PostKeys(HWND window, std::initializer_list<WORD> keys) {
  for (WORD key : keys) {
    PostMessageW(window, WM_KEYDOWN, key, 0);
    PostMessageW(window, WM_KEYUP, key, 0);
  }
}

HWND WaitForWindow(const wchar_t* window_class, const wchar_t* title,
                   std::chrono::milliseconds patience) {
  HWND found = nullptr;
  const auto visible = [&] {
    found = FindWindowW(window_class, title);
    return found != nullptr && IsWindowVisible(found);
  };
  return WaitFor(visible, patience, std::chrono::milliseconds(50)) ? found : nullptr;
}

bool TrustRootInWinePrefix(const std::string& pem_path) {
  if (!RunningUnderWine()) return false;
  const std::string pem = ReadFile(pem_path);
  BYTE der[4096];
  DWORD size = sizeof(der);
  if (!CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                            der, &size, nullptr, nullptr)) {
    return false;
  }
  // The registry store: Wine's system store does not keep what is added to it.
  const HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0,
                                        CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (root == nullptr) return false;
  const bool added = CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, der, size,
                                                      CERT_STORE_ADD_USE_EXISTING, nullptr);
  CertCloseStore(root, 0);
  return added;
}

}  // namespace wardex::test
