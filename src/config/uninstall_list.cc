#include "config/uninstall_list.h"

#include "config/install_config.h"
#include "config/profile_string.h"
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
  // The write's outcome is not logged separately: the uninstaller only ever
  // misses a file, and the next start registers it again.
  static_cast<void>(WriteProfileString(kSection, key, u"1", list));
  LogW(kUninstallLogLevel, u"File registered for uninstall: %s", key.c_str());
}

}  // namespace wardex
