#include "platform/create_folder.h"

#include <string>

#include "osal/last_error.h"
#include "platform/system_error_win_internal.h"
#include "platform/windows_api.h"

namespace wardex::platform {
namespace {

const wchar_t* Native(const std::u16string& path) {
  return reinterpret_cast<const wchar_t*>(path.c_str());
}

bool IsSeparator(char16_t unit) { return unit == u'/' || unit == u'\\'; }

}  // namespace

// A new folder takes its access from its parent's inherited ACL: below the
// common application data folder every user reads it, whatever
// |readable_by_all| says.
bool CreateFolder(const KaOSAL::KaString& path, bool /*readable_by_all*/) {
  const std::u16string whole(path.c_str(), static_cast<size_t>(path.GetLength()));
  // Each prefix that ends before a separator is a parent, the whole path
  // comes last. A parent that cannot be made (a drive, a share's root) shows
  // in the error of the next one.
  for (size_t end = 1; end <= whole.size(); ++end) {
    if (end < whole.size() && (!IsSeparator(whole[end]) || IsSeparator(whole[end - 1]))) continue;
    if (!CreateDirectoryW(Native(whole.substr(0, end)), nullptr) && end == whole.size() &&
        ::GetLastError() != ERROR_ALREADY_EXISTS) {
      KeepSystemError();
      return false;
    }
  }
  const DWORD attributes = GetFileAttributesW(Native(whole));
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    KaOSAL::SetLastError(KaOSAL::kErrorPathNotFound);
    return false;
  }
  return true;
}

// Every user may create files in a folder below the common application
// data folder, and writers replace a file's name rather than write through
// it, so a file planted there is never written through. What would redirect
// the writes is the folder itself being another user's link (a junction):
// it must be a real folder whose owner is this user, the administrators or
// the system.
bool IsFolderOfOwnerOrRoot(const KaOSAL::KaString& path) {
  const auto* native = reinterpret_cast<const wchar_t*>(path.c_str());
  const DWORD attributes = GetFileAttributesW(native);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    KeepSystemError();
    return false;
  }
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(native, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                            nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    descriptor = nullptr;
  }
  bool trusted = false;
  if (descriptor != nullptr && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    trusted = IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
              IsWellKnownSid(owner, WinLocalSystemSid);
    HANDLE token = nullptr;
    if (!trusted && OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
      alignas(TOKEN_USER) unsigned char user[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
      DWORD size = 0;
      trusted = GetTokenInformation(token, TokenUser, user, sizeof(user), &size) &&
                EqualSid(owner, reinterpret_cast<TOKEN_USER*>(user)->User.Sid);
      CloseHandle(token);
    }
  }
  LocalFree(descriptor);
  if (!trusted) KaOSAL::SetLastError(KaOSAL::kErrorAccessDenied);
  return trusted;
}

// Windows has no modes: access comes from the ACL the file or folder
// inherits, which the common application data folder makes readable by
// every user. Only whether |path| exists is answered.
bool SetFileMode(const KaOSAL::KaString& path, uint32_t /*mode*/) {
  if (GetFileAttributesW(reinterpret_cast<const wchar_t*>(path.c_str())) !=
      INVALID_FILE_ATTRIBUTES) {
    return true;
  }
  KeepSystemError();
  return false;
}

}  // namespace wardex::platform
