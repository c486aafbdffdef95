#include <cstdio>
#include <string>

#include "osal/last_error.h"
#include "osal/wide_format.h"
#include "platform/file_system.h"
#include "platform/profile_file_internal.h"
#include "platform/windows_api.h"

namespace wardex::platform {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::wstring Widen(const std::string& text) {
  const std::u16string wide = KaOSAL::FromUtf8(text);
  return std::wstring(wide.begin(), wide.end());
}

// Keeps the system's last error as ours and returns false.
bool FailWithSystemError() {
  KaOSAL::SetLastError(::GetLastError());
  return false;
}

// The name of the mutex that stands for |path|: one per file, whatever the
// spelling of its path, in the global namespace so that writers of every
// session meet there.
std::wstring WriteMutexName(const std::string& path) {
  const std::wstring wide = Widen(path);
  wchar_t full[MAX_PATH * 4];
  const DWORD length = GetFullPathNameW(wide.c_str(), MAX_PATH * 4, full, nullptr);
  std::wstring name = length > 0 && length < MAX_PATH * 4 ? std::wstring(full, length) : wide;
  LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, name.data(), static_cast<int>(name.size()),
                name.data(), static_cast<int>(name.size()), nullptr, nullptr, 0);
  uint64_t hash = 0xCBF29CE484222325;  // FNV-1a
  for (wchar_t unit : name) hash = (hash ^ static_cast<uint16_t>(unit)) * 0x100000001B3;
  wchar_t text[40];
  swprintf(text, 40, L"%016llX", static_cast<unsigned long long>(hash));
  return L"Global\\wardex-profile-" + std::wstring(text);
}

}  // namespace

bool ReadProfileFile(const std::string& path, std::string* bytes, size_t shared_max_bytes) {
  const bool shared = shared_max_bytes > 0;
  const HANDLE file =
      CreateFileW(Widen(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                  shared ? FILE_FLAG_OPEN_REPARSE_POINT : FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return FailWithSystemError();
  BY_HANDLE_FILE_INFORMATION info{};
  const bool acceptable =
      !shared || (GetFileInformationByHandle(file, &info) &&
                  (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
                  info.nFileSizeHigh == 0 && info.nFileSizeLow <= shared_max_bytes);
  bytes->clear();
  char chunk[16384];
  bool whole = acceptable;
  while (whole) {
    DWORD got = 0;
    if (!ReadFile(file, chunk, sizeof(chunk), &got, nullptr)) {
      whole = FailWithSystemError();
      break;
    }
    if (got == 0) break;
    bytes->append(chunk, got);
    // A shared file that grew past its limit meanwhile counts as missing too.
    whole = !shared || bytes->size() <= shared_max_bytes;
  }
  CloseHandle(file);
  if (!whole && shared) KaOSAL::SetLastError(KaOSAL::kErrorFileNotFound);
  return whole;
}

// Windows: the path itself.
std::string ProfileWriteTarget(const std::string& path) { return path; }

// The shared whole-file replacement: a flushed temporary file put in place
// by ReplaceFileW, which keeps the old file's security and attributes.
bool ReplaceProfileFile(const std::string& path, const std::string& bytes) {
  return ReplaceFileContent(KaOSAL::KaString(path.c_str(), KaOSAL::KA_CP_UTF8), bytes);
}

// The lock is a named mutex for the file. An abandoned one (its holder
// died) is ours as it is. Another user's mutex cannot be opened while it
// exists: that is tried again like a held one.
ProfileWriteLock::ProfileWriteLock(const std::string& path) : handle_(0) {
  const std::wstring name = WriteMutexName(path);
  for (int attempt = 0; attempt < kTries; ++attempt) {
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    if (mutex != nullptr) {
      const DWORD waited = WaitForSingleObject(mutex, (kTries - attempt) * kRetryMs);
      if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
        handle_ = reinterpret_cast<intptr_t>(mutex);
        return;
      }
      CloseHandle(mutex);
      break;
    }
    if (::GetLastError() != ERROR_ACCESS_DENIED) return;  // the write itself reports why
    Sleep(kRetryMs);
  }
  refused_ = true;
}

ProfileWriteLock::~ProfileWriteLock() {
  if (handle_ == 0) return;
  ReleaseMutex(reinterpret_cast<HANDLE>(handle_));
  CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

}  // namespace wardex::platform
