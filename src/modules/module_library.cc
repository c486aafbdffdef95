#include "modules/module_library.h"

#include <mutex>
#include <utility>

#include "osal/last_error.h"
#include "wardex/crashlog.h"

namespace wardex {

namespace {

std::mutex g_loaded_lock;
std::vector<TrustedLibrary>& Loaded() {
  static std::vector<TrustedLibrary> loaded;
  return loaded;
}

void RememberLoaded(const KaOSAL::KaString& path, const KaOSAL::KaString& signer) {
  std::lock_guard<std::mutex> hold(g_loaded_lock);
  for (const TrustedLibrary& library : Loaded()) {
    if (library.path == path) return;
  }
  Loaded().push_back({path, signer});
}

// The full path of the file to check: a bare name is resolved first.
KaOSAL::KaString FileToCheck(const KaOSAL::KaPath& path) {
  const KaOSAL::KaString& text = path.ToString();
  return platform::IsBareLibraryName(text) ? platform::ResolveLibraryName(text) : text;
}

}  // namespace

platform::LibraryHandle LoadModuleLibrary(KaOSAL::KaPath path) {
  const KaOSAL::KaString file_path = FileToCheck(path);
  platform::LibraryFile file;
  if (!file.Open(file_path)) {
    if (KaOSAL::GetLastError() == KaOSAL::kErrorFileNotFound) {
      LogW(kLogError, u"ERROR: Not found %s", file_path.c_str());
    } else {
      LogW(kLogError, u"ERROR: FATAL - Not trusted %s", file_path.c_str());
    }
    return nullptr;
  }
  const platform::SignatureVerdict verdict = CheckTrust(file, platform::TrustAnchors::ForMachine());
  if (!verdict.trusted()) {
    LogW(kLogError, u"ERROR: FATAL - Not trusted %s", file_path.c_str());
    return nullptr;
  }
  platform::LibraryHandle library = platform::LoadLibraryFromFile(std::move(file));
  if (library == nullptr) {
    // The caller's own error line says what failed; this says why.
    LogW(kLogTrace, u"LOAD DLL ERROR: %s", platform::GetLastLoadError().c_str());
  } else {
    RememberLoaded(file_path, verdict.signer_name);
  }
  return library;
}

std::vector<TrustedLibrary> LoadedTrustedLibraries() {
  std::lock_guard<std::mutex> hold(g_loaded_lock);
  return Loaded();
}

}  // namespace wardex
