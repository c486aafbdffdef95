#include "platform/special_folders.h"

#include <string>

#include "osal/last_error.h"
#include "platform/windows_api.h"

namespace wardex::platform {
namespace {

// Long paths ("\\?\" forms) may exceed MAX_PATH; GetModuleFileNameW says so
// by filling the whole buffer.
constexpr DWORD kLongestPath = 32768;

std::u16string FromWide(const wchar_t* text, size_t length) {
  return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}

}  // namespace

std::u16string TemporaryFolderPath() {
  wchar_t buffer[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
  if (length == 0 || length > MAX_PATH) {
    KaOSAL::SetLastError(length == 0 ? ::GetLastError() : KaOSAL::kErrorInsufficientBuffer);
    return {};
  }
  return FromWide(buffer, length);
}

std::u16string ExecutableFilePath() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) {
      KaOSAL::SetLastError(::GetLastError());
      return {};
    }
    if (length < buffer.size()) return FromWide(buffer.data(), length);
    if (buffer.size() >= kLongestPath) {
      KaOSAL::SetLastError(KaOSAL::kErrorInsufficientBuffer);
      return {};
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace wardex::platform
