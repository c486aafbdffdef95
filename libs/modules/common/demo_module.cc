#include "demo_module.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

#include "osal/wide_format.h"
#include "platform/system_paths.h"
#include "wardex/crashlog.h"

namespace wardex::demo {

namespace {

// Writes all of |content| to |fd|; false on a write error.
bool WriteAll(int fd, const std::string& content) {
  size_t written = 0;
  while (written < content.size()) {
    const ssize_t n = ::write(fd, content.data() + written, content.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    written += static_cast<size_t>(n);
  }
  return true;
}

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

std::string StateFolder() { return Utf8(platform::GetUserStateFolder()) + "/wardex"; }

std::string RegistrationMarkerPath(const char* module) {
  return StateFolder() + "/modules/" + module + ".registered";
}

bool WriteFileAtomically(const std::string& path, const std::string& content) {
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
  std::string temporary = path + ".new-XXXXXX";
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return false;
  const bool written = WriteAll(fd, content) && ::fsync(fd) == 0;
  ::close(fd);
  if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

void WriteRegistrationMarker(const char* module) {
  const std::string path = RegistrationMarkerPath(module);
  // The marker says when the installer registered the module.
  const std::string content = "registered=" + std::to_string(std::time(nullptr)) + "\n";
  if (WriteFileAtomically(path, content)) {
    LogW(kLogInfo, u"%S: registered (%S)", module, path.c_str());
  } else {
    LogW(kLogError, u"%S: could not write %S (errno %d)", module, path.c_str(), errno);
  }
}

void RemoveRegistrationMarker(const char* module) {
  const std::string path = RegistrationMarkerPath(module);
  if (::unlink(path.c_str()) == 0 || errno == ENOENT) {
    LogW(kLogInfo, u"%S: unregistered (%S)", module, path.c_str());
  } else {
    LogW(kLogError, u"%S: could not remove %S (errno %d)", module, path.c_str(), errno);
  }
}

}  // namespace wardex::demo
