#include "config/install_config.h"

#include <bit>

#include "config/profile_string.h"
#include "platform/file_system.h"
#include "platform/system_paths.h"

namespace wardex {

using KaOSAL::KaPath;
using KaOSAL::KaString;

namespace {

constexpr char16_t kInstallConfigName[] = u"install.cfg";

// |file| with its file name replaced by install.cfg.
KaPath InstallConfigBeside(const KaString& file) {
  KaPath path(file);
  path.SetFileNameAndExt(kInstallConfigName);
  return path;
}

}  // namespace

KaPath GetInstallConfigPath() {
  KaPath candidate = InstallConfigBeside(platform::GetExecutableFilePath());
  if (platform::FileExists(candidate.ToString())) return candidate;
  // The module that holds this code: the agent itself, or a plug-in library
  // that links the configuration layer.
  candidate = InstallConfigBeside(
      platform::GetModuleFilePathOf(std::bit_cast<const void*>(&GetInstallConfigPath)));
  if (platform::FileExists(candidate.ToString())) return candidate;
  for (int level = 0; level < 2; ++level) {
    if (!candidate.GotoParent()) break;
    if (level == 0 && platform::FileExists(candidate.ToString())) return candidate;
  }
  return candidate;
}

KaString ReadInstallConfig(const KaString& section, const KaString& key,
                           const KaString& defaultValue) {
  return ReadProfileString(section, key, defaultValue, GetInstallConfigPath().ToString());
}

KaString GetIpcChannelName() { return ReadInstallConfig(u"ipc", u"ServiceChannelName", u""); }

KaString GetRemoteServerAddress() { return ReadInstallConfig(u"Remote", u"ServerIP", u""); }

}  // namespace wardex
