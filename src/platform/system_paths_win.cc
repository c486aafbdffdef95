// Windows has no machine root: the machine's state is in the registry and the
// common application data folder, and each Wine prefix of the tests is its
// own machine.
#include "platform/system_paths.h"

#include <string>

#include "osal/ka_path.h"
#include "osal/last_error.h"
#include "platform/windows_api.h"

namespace wardex::platform {
namespace {

using KaOSAL::KaString;

constexpr DWORD kLongestPath = 32768;

KaString FromWide(const wchar_t* text) { return KaString(reinterpret_cast<const char16_t*>(text)); }

// The known folder |id| without a trailing separator, or empty with the last
// error set.
KaString KnownFolder(REFKNOWNFOLDERID id) {
  wchar_t* folder = nullptr;
  const HRESULT result = SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &folder);
  KaString path;
  if (result == S_OK) {
    path = FromWide(folder);
  } else {
    KaOSAL::SetLastError(HRESULT_FACILITY(result) == FACILITY_WIN32 ? HRESULT_CODE(result)
                                                                    : KaOSAL::kErrorFileNotFound);
  }
  CoTaskMemFree(folder);
  while (path.GetLength() > 3 && (path.EndsWith(u"\\") || path.EndsWith(u"/"))) {
    path = path.Left(path.GetLength() - 1);
  }
  return path;
}

}  // namespace

KaString GetIgnoredMachineRoot() { return KaString(); }

KaString GetUserHomeFolder() { return KnownFolder(FOLDERID_Profile); }
KaString GetUserStateFolder() { return KnownFolder(FOLDERID_LocalAppData); }
KaString GetUserCacheFolder() { return KnownFolder(FOLDERID_LocalAppData); }
KaString GetCommonAppDataFolder() { return KnownFolder(FOLDERID_ProgramData); }

KaString GetExecutableFilePath() {
  return KaOSAL::KaPath(KaOSAL::KaPath::eSpecialFolderExecutablePath).ToString();
}

KaString GetModuleFilePathOf(const void* address) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<const wchar_t*>(address), &module)) {
    KaOSAL::SetLastError(::GetLastError());
    return KaString();
  }
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) {
      KaOSAL::SetLastError(::GetLastError());
      return KaString();
    }
    if (length < buffer.size()) return FromWide(buffer.c_str());
    if (buffer.size() >= kLongestPath) {
      KaOSAL::SetLastError(KaOSAL::kErrorInsufficientBuffer);
      return KaString();
    }
    buffer.resize(buffer.size() * 2);
  }
}

uint16_t GetUserDefaultLangID() { return ::GetUserDefaultLangID(); }

}  // namespace wardex::platform
