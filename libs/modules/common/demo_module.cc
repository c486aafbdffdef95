#include "demo_module.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

#include "osal/last_error.h"
#include "osal/wide_format.h"
#include "platform/create_folder.h"
#include "platform/file_system.h"
#include "platform/system_paths.h"
#include "wardex/crashlog.h"

namespace wardex::demo {

namespace {

// Where Register leaves its marker: <state folder>/modules/<module>.registered.
KaOSAL::KaString MarkerFolder() { return InFolder(StateFolder(), u"modules"); }
KaOSAL::KaString MarkerName(const char* module) { return Wide(module) + u".registered"; }

}  // namespace

std::string Utf8(const KaOSAL::KaString& text) {
  return KaOSAL::ToUtf8(text.c_str(), static_cast<size_t>(text.GetLength()));
}

KaOSAL::KaString Wide(const std::string& text) {
  const std::u16string wide = KaOSAL::FromUtf8(text);
  return KaOSAL::KaString(wide.c_str(), static_cast<int>(wide.size()));
}

std::string FormatBytes(uint64_t bytes) {
  static constexpr const char* kUnits[] = {"B", "KB", "MB", "GB", "TB", "PB"};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double value = static_cast<double>(bytes);
  size_t unit = 0;
  while (value >= 1024.0 && unit + 1 < std::size(kUnits)) {
    value /= 1024.0;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof(text), "%.1f %s", value, kUnits[unit]);
  return text;
}

int32_t CopyText(const KaOSAL::KaString& text, char16_t* buffer, int32_t capacity) {
  const int32_t length = text.GetLength();
  if (buffer != nullptr && capacity > 0) {
    const int32_t copied = length < capacity ? length : capacity - 1;
    for (int32_t i = 0; i < copied; ++i) buffer[i] = text.c_str()[i];
    buffer[copied] = 0;
  }
  return length;
}

KaOSAL::KaString InFolder(const KaOSAL::KaString& folder, const char16_t* name) {
  const char16_t separator[] = {static_cast<char16_t>(std::filesystem::path::preferred_separator),
                                0};
  return folder + separator + name;
}

KaOSAL::KaString StateFolder() { return InFolder(platform::GetUserStateFolder(), u"wardex"); }

bool WriteFileAtomically(const KaOSAL::KaString& folder, const char16_t* name,
                         const std::string& content) {
  return platform::CreateFolder(folder) &&
         platform::ReplaceFileContent(InFolder(folder, name), content);
}

void WriteRegistrationMarker(const char* module) {
  // The marker says when the installer registered the module.
  const std::string content = "registered=" + std::to_string(std::time(nullptr)) + "\n";
  const KaOSAL::KaString name = MarkerName(module);
  const KaOSAL::KaString path = InFolder(MarkerFolder(), name.c_str());
  if (WriteFileAtomically(MarkerFolder(), name.c_str(), content)) {
    LogW(kLogInfo, u"%S: registered (%s)", module, path.c_str());
  } else {
    LogW(kLogError, u"%S: could not write %s (error %lu)", module, path.c_str(),
         static_cast<unsigned long>(KaOSAL::GetLastError()));
  }
}

void RemoveRegistrationMarker(const char* module) {
  const KaOSAL::KaString path = InFolder(MarkerFolder(), MarkerName(module).c_str());
  if (platform::RemoveFile(path)) {
    LogW(kLogInfo, u"%S: unregistered (%s)", module, path.c_str());
  } else {
    LogW(kLogError, u"%S: could not remove %s (error %lu)", module, path.c_str(),
         static_cast<unsigned long>(KaOSAL::GetLastError()));
  }
}

}  // namespace wardex::demo
