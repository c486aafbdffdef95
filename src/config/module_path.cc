#include "config/module_path.h"

#include "platform/system_paths.h"

namespace wardex {

KaOSAL::KaString GetExecutablePath() { return platform::GetExecutableFilePath(); }

// Not inlined: the return address must lie in the caller's module.
__attribute__((noinline)) KaOSAL::KaString GetModuleFilePath() {
  return platform::GetModuleFilePathOf(__builtin_return_address(0));
}

}  // namespace wardex
