#include "config/registry_settings.h"

#include "config/install_config.h"
#include "config/placeholders.h"

namespace wardex {

CRegistrySettings::CRegistrySettings() : CRegistry(false) {
  // The root is set first, so that with an empty RegKey the operations address
  // the root of HKEY_LOCAL_MACHINE, which holds no values, rather than the
  // current user's root.
  SetRootKey(HKEY_LOCAL_MACHINE);
  const KaOSAL::KaString path = ProductKeyPath();
  if (!path.IsEmpty()) static_cast<void>(Open(path, true));
}

KaOSAL::KaString CRegistrySettings::ProductKeyPath() {
  const KaOSAL::KaString regKey = ReadInstallConfig(u"install", u"RegKey", u"");
  if (regKey.IsEmpty()) return {};
  KaOSAL::KaString path = u"SOFTWARE\\%company%\\";
  ExpandPlaceholders(path);
  return path + regKey;
}

CRegistrySettings::~CRegistrySettings() = default;

}  // namespace wardex
