// The account of the user at the desktop: the user of the active graphical
// session of seat0, else of the first graphical session (sd-login). Sessions
// of the login screen (class "greeter") and lock screens are not logons.
#pragma once

#include <cstdint>

#include "osal/ka_string.h"

namespace wardex::platform {

struct LogonAccount {
  // Which step failed, or kNone.
  enum class Failure { kNone, kNoGraphicalSession, kSessionUser, kAccountName };
  Failure failure = Failure::kNone;
  uint32_t error = 0;        // the Win32 code of the failed step
  KaOSAL::KaString account;  // "host\user" when found
};

[[nodiscard]] LogonAccount FindGraphicalLogonAccount();

}  // namespace wardex::platform
