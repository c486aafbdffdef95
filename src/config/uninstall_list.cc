#include "config/uninstall_list.h"

#include "config/install_config.h"
#include "config/profile_string.h"
#include "osal/last_error.h"
#include "wardex/crashlog.h"

namespace wardex {

using KaOSAL::KaString;

namespace {

constexpr int kUninstallLogLevel = 12;
constexpr char16_t kSection[] = u"uninstall";

}  // namespace

void RegisterForUninstall(const KaOSAL::KaPath& path) {
  // UserContentPath is expected to end with a separator: nothing is inserted.
  const KaString list =
      ReadInstallConfig(u"install", u"UserContentPath", u"") + u"ToBeUninstalled.dat";
  const KaString& key = path.ToString();
  if (!ReadProfileString(kSection, key, u"", list).IsEmpty()) {
    LogW(kUninstallLogLevel, u"File already registered for uninstall: %s", key.c_str());
    return;
  }
  // A path the list cannot hold (one with "=" would read back as another
  // key) is refused like a failed write, so it is never appended again and
  // again; the next start tries once more.
  if (!WriteProfileString(kSection, key, u"1", list)) {
    LogW(kLogError, u"File could not be registered for uninstall: %s (error %u)", key.c_str(),
         KaOSAL::GetLastError());
    return;
  }
  LogW(kUninstallLogLevel, u"File registered for uninstall: %s", key.c_str());
}

}  // namespace wardex
