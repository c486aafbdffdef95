// The account of the user at the desktop on Windows: the owner of the shell,
// the first process named explorer.exe, read from its token.
#include <memory>
#include <vector>

#include "platform/logon_account.h"
#include "platform/windows_api.h"

namespace wardex::platform {
namespace {

using Failure = LogonAccount::Failure;

LogonAccount Failed(Failure failure, uint32_t error) { return {failure, error, {}}; }

// The id of the first process running |image|, or 0 with the last error set.
DWORD FindProcess(const wchar_t* image) {
  const ::HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  DWORD found = 0;
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more && found == 0;
       more = ::Process32NextW(snapshot, &entry)) {
    if (::lstrcmpiW(entry.szExeFile, image) == 0) found = entry.th32ProcessID;
  }
  const DWORD error = found == 0 ? ::GetLastError() : 0;
  ::CloseHandle(snapshot);
  ::SetLastError(error);
  return found;
}

struct HandleCloser {
  void operator()(::HANDLE handle) const { ::CloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

}  // namespace

LogonAccount FindGraphicalLogonAccount() {
  const DWORD shell = FindProcess(L"explorer.exe");
  if (shell == 0) return Failed(Failure::kNoGraphicalSession, ::GetLastError());
  const Handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shell));
  if (!process) return Failed(Failure::kSessionUser, ::GetLastError());
  ::HANDLE token_handle = nullptr;
  if (!::OpenProcessToken(process.get(), TOKEN_QUERY, &token_handle)) {
    return Failed(Failure::kSessionUser, ::GetLastError());
  }
  const Handle token(token_handle);
  DWORD size = 0;
  ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  std::vector<BYTE> user(size);
  if (size == 0 || !::GetTokenInformation(token.get(), TokenUser, user.data(), size, &size)) {
    return Failed(Failure::kSessionUser, ::GetLastError());
  }
  const PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  wchar_t name[256];
  wchar_t domain[256];
  DWORD name_length = 256;
  DWORD domain_length = 256;
  SID_NAME_USE kind = SidTypeUnknown;
  if (!::LookupAccountSidW(nullptr, sid, name, &name_length, domain, &domain_length, &kind)) {
    return Failed(Failure::kAccountName, ::GetLastError());
  }
  // A group or a well-known account owns no desktop.
  if (kind != SidTypeUser) return Failed(Failure::kAccountName, ERROR_NONE_MAPPED);
  const auto text = [](const wchar_t* wide) {
    return KaOSAL::KaString(reinterpret_cast<const char16_t*>(wide));
  };
  return {Failure::kNone, 0, text(domain) + u"\\" + text(name)};
}

}  // namespace wardex::platform
