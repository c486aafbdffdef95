#include "platform/file_system.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>
#include <utility>

#include "osal/last_error.h"
#include "platform/system_error_win_internal.h"
#include "platform/windows_api.h"

namespace wardex::platform {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kChunk = 1 << 20;  // ReadFile and WriteFile take 32-bit sizes

const wchar_t* Native(const KaOSAL::KaString& path) {
  return reinterpret_cast<const wchar_t*>(path.c_str());
}

// Keeps the system's error as ours and returns false.
bool Failed() {
  KeepSystemError();
  return false;
}

class ScopedFile {
 public:
  explicit ScopedFile(HANDLE handle) : handle_(handle) {}
  ~ScopedFile() { Close(); }
  ScopedFile(const ScopedFile&) = delete;
  ScopedFile& operator=(const ScopedFile&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  void Close() {
    if (valid()) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE handle_;
};

// Whether |path|, links followed, leads to a folder (|folder|) or a file.
bool IsKind(const KaOSAL::KaString& path, bool folder) {
  const ScopedFile file(CreateFileW(Native(path), 0, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  return file.valid() && GetFileInformationByHandle(file.get(), &info) &&
         ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == folder;
}

bool WriteAll(HANDLE file, const char* data, size_t size) {
  while (size > 0) {
    DWORD put = 0;
    if (!WriteFile(file, data, static_cast<DWORD>(std::min<size_t>(size, kChunk)), &put, nullptr)) {
      return false;
    }
    data += put;
    size -= put;
  }
  return true;
}

// Copies the open file |from| into |to| from where each stands.
bool CopyContent(HANDLE from, HANDLE to) {
  std::string chunk(kChunk, '\0');
  for (DWORD got = 0;; got = 0) {
    if (!ReadFile(from, chunk.data(), kChunk, &got, nullptr)) return false;
    if (got == 0) return true;
    if (!WriteAll(to, chunk.data(), got)) return false;
  }
}

// Creates a new file beside |target| under a name no other writer uses,
// fills it by |fill| and flushes it to the disk. Its name, or empty with the
// last error set; a file that could not be filled is removed.
template <typename Fill>
std::wstring WriteTemporaryBeside(const KaOSAL::KaString& target, Fill fill) {
  static std::atomic<unsigned> counter{0};
  const std::wstring temporary = std::wstring(Native(target)) + L"." +
                                 std::to_wstring(GetCurrentProcessId()) + L"-" +
                                 std::to_wstring(counter++) + L".tmp";
  ScopedFile out(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (out.valid() && fill(out.get()) && FlushFileBuffers(out.get())) return temporary;
  KeepSystemError();
  if (out.valid()) {
    out.Close();
    DeleteFileW(temporary.c_str());
  }
  return {};
}

// Removes |temporary| and keeps the error of the call that just failed.
bool FailedLeaving(const std::wstring& temporary) {
  const DWORD error = ::GetLastError();
  DeleteFileW(temporary.c_str());
  KaOSAL::SetLastError(error);
  return false;
}

}  // namespace

bool FileExists(const KaOSAL::KaString& path) { return IsKind(path, false); }

bool DirectoryExists(const KaOSAL::KaString& path) { return IsKind(path, true); }

bool RemoveFile(const KaOSAL::KaString& path) {
  if (DeleteFileW(Native(path))) return true;
  const DWORD error = ::GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || Failed();
}

bool CopyFileNoOverwrite(const KaOSAL::KaString& source, const KaOSAL::KaString& target) {
  const ScopedFile from(CreateFileW(Native(source), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!from.valid()) return Failed();
  const std::wstring temporary =
      WriteTemporaryBeside(target, [&](HANDLE out) { return CopyContent(from.get(), out); });
  if (temporary.empty()) return false;
  // Without MOVEFILE_REPLACE_EXISTING the move refuses a target that exists.
  return MoveFileExW(temporary.c_str(), Native(target), MOVEFILE_WRITE_THROUGH) ||
         FailedLeaving(temporary);
}

bool ReadWholeFile(const KaOSAL::KaString& path, size_t max_bytes, std::string* bytes) {
  const ScopedFile file(CreateFileW(Native(path), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  LARGE_INTEGER size{};
  if (!file.valid() || !GetFileSizeEx(file.get(), &size)) return Failed();
  if (static_cast<uint64_t>(size.QuadPart) > max_bytes) {
    KaOSAL::SetLastError(ERROR_FILE_TOO_LARGE);
    return false;
  }
  std::string read(static_cast<size_t>(size.QuadPart), '\0');
  for (size_t got = 0; got < read.size();) {
    DWORD chunk = 0;
    if (!ReadFile(file.get(), read.data() + got,
                  static_cast<DWORD>(std::min<size_t>(read.size() - got, kChunk)), &chunk,
                  nullptr)) {
      return Failed();
    }
    // A file cut short while it was read is not read whole.
    if (chunk == 0) {
      KaOSAL::SetLastError(ERROR_HANDLE_EOF);
      return false;
    }
    got += chunk;
  }
  *bytes = std::move(read);
  return true;
}

// ReplaceFileW keeps the replaced file's security and attributes, as the
// rename on Linux keeps its mode; a file that does not exist (any more) is
// put in place by a move that overwrites one made meanwhile.
bool ReplaceFileContent(const KaOSAL::KaString& path, const std::string& bytes) {
  const std::wstring temporary = WriteTemporaryBeside(
      path, [&](HANDLE out) { return WriteAll(out, bytes.data(), bytes.size()); });
  if (temporary.empty()) return false;
  if (ReplaceFileW(Native(path), temporary.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                   nullptr, nullptr)) {
    return true;
  }
  if (::GetLastError() != ERROR_FILE_NOT_FOUND) return FailedLeaving(temporary);
  return MoveFileExW(temporary.c_str(), Native(path),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ||
         FailedLeaving(temporary);
}

bool AppendToFile(const KaOSAL::KaString& path, const std::string& bytes) {
  // With only the right to append, every write goes to the file's end.
  const ScopedFile file(CreateFileW(Native(path), FILE_APPEND_DATA, kShareAll, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  return (file.valid() && WriteAll(file.get(), bytes.data(), bytes.size())) || Failed();
}

bool GetDiskSpace(const KaOSAL::KaString& folder, DiskSpace* space) {
  ULARGE_INTEGER available{};
  ULARGE_INTEGER total{};
  if (!GetDiskFreeSpaceExW(Native(folder), &available, &total, nullptr)) return Failed();
  space->available_bytes = available.QuadPart;
  space->total_bytes = total.QuadPart;
  return true;
}

}  // namespace wardex::platform
