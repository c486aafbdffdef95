#include "platform/logon_account.h"

#include <pwd.h>
#include <systemd/sd-login.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "osal/last_error.h"
#include "osal/wide_format.h"

namespace wardex::platform {
namespace {

// Frees what sd-login hands out with malloc.
struct FreeDeleter {
  void operator()(void* memory) const { std::free(memory); }
};
using SdText = std::unique_ptr<char, FreeDeleter>;

// True when |session| is a user's logon on a display server.
bool IsGraphicalUserSession(const char* session) {
  char* type = nullptr;
  char* kind = nullptr;
  const bool typed = sd_session_get_type(session, &type) >= 0;
  const bool classed = sd_session_get_class(session, &kind) >= 0;
  SdText owned_type(type);
  SdText owned_kind(kind);
  if (!typed || !classed || std::strcmp(kind, "user") != 0) return false;
  return std::strcmp(type, "x11") == 0 || std::strcmp(type, "wayland") == 0 ||
         std::strcmp(type, "mir") == 0;
}

// The active graphical session of seat0, else the first graphical session;
// empty with |error| (a negative errno) when there is none.
std::string FindGraphicalSession(int* error) {
  char* active = nullptr;
  *error = sd_seat_get_active("seat0", &active, nullptr);
  SdText owned_active(active);
  if (*error >= 0 && IsGraphicalUserSession(active)) return active;
  char** sessions = nullptr;
  const int count = sd_get_sessions(&sessions);
  std::string found;
  for (int i = 0; i < count; ++i) {
    if (found.empty() && IsGraphicalUserSession(sessions[i])) found = sessions[i];
    std::free(sessions[i]);
  }
  std::free(sessions);
  *error = count < 0 ? count : -ENXIO;
  return found;
}

LogonAccount Failed(LogonAccount::Failure failure, int errno_value) {
  LogonAccount result;
  result.failure = failure;
  result.error = KaOSAL::SetLastErrorFromErrno(errno_value);
  return result;
}

}  // namespace

LogonAccount FindGraphicalLogonAccount() {
  int error = 0;
  const std::string session = FindGraphicalSession(&error);
  if (session.empty()) return Failed(LogonAccount::Failure::kNoGraphicalSession, -error);
  uid_t uid = 0;
  error = sd_session_get_uid(session.c_str(), &uid);
  if (error < 0) return Failed(LogonAccount::Failure::kSessionUser, -error);

  std::vector<char> buffer(16384);
  struct passwd entry {};
  struct passwd* user = nullptr;
  error = getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &user);
  if (user == nullptr) return Failed(LogonAccount::Failure::kAccountName, error ? error : ENOENT);
  char host[256] = {};
  if (gethostname(host, sizeof(host) - 1) != 0) {
    return Failed(LogonAccount::Failure::kAccountName, errno);
  }
  LogonAccount result;
  const std::u16string account = KaOSAL::FromUtf8(std::string(host) + "\\" + user->pw_name);
  result.account = KaOSAL::KaString(account.c_str(), static_cast<int>(account.size()));
  return result;
}

}  // namespace wardex::platform
