#include <array>
#include <string>

#include "log_file.h"
#include "log_file_io.h"
#include "osal/error_text.h"
#include "osal/wide_format.h"
#include "platform/windows_api.h"

namespace wardex::crashlog {
namespace {

// The folder below the user's local application data folder.
constexpr wchar_t kLogFolder[] = L"\\Wardex\\log\\";

// The place comes from the shell's folder, which does not change while the
// program runs.
constexpr std::array<const char*, 0> kPlaceVariables = {};

std::wstring Widen(const std::string& text) {
  const std::u16string wide = KaOSAL::FromUtf8(text);
  return std::wstring(wide.begin(), wide.end());
}

std::string Narrow(const wchar_t* text) {
  return KaOSAL::ToUtf8(reinterpret_cast<const char16_t*>(text), wcslen(text));
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

std::span<const char* const> LogPlaceVariables() { return kPlaceVariables; }

std::string DefaultLogFilePath() {
  wchar_t* folder = nullptr;
  std::string path;
  if (SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr, &folder) == S_OK) {
    path = Narrow(folder) + Narrow(kLogFolder) + kLogFileName;
  }
  CoTaskMemFree(folder);
  return path;
}

// Windows has no journal: the file is the one target.
LogMirror ResolveLogMirror() { return nullptr; }

namespace {

// Opens |path| for appending. Other loggers may read, append, and rename the
// file away meanwhile. Appending only: every write goes to the end of the
// file as one piece.
HANDLE OpenForAppending(const std::string& path) {
  return CreateFileW(Widen(path).c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

bool AppendFile::Open(const std::string& path) {
  Close();
  const HANDLE file = OpenForAppending(path);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  const bool sized = GetFileSizeEx(file, &size);
  const DWORD error = ::GetLastError();
  CloseHandle(file);
  if (!sized) {
    ::SetLastError(error);
    return false;
  }
  path_ = path;
  size_ = size.QuadPart;
  return true;
}

void AppendFile::Close() {
  path_.clear();
  size_ = 0;
}

bool AppendFile::Append(std::string_view text) {
  const HANDLE file = OpenForAppending(path_);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  LARGE_INTEGER size{};
  const bool whole =
      WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
      written == text.size();
  if (whole && GetFileSizeEx(file, &size)) size_ = size.QuadPart;
  CloseHandle(file);
  return whole;
}

// The file is opened by name for each line.
bool AppendFile::IsNamed(const std::string& path) const { return path == path_; }

int LastSystemError() { return static_cast<int>(::GetLastError()); }

std::string SystemErrorText(int error) {
  std::u16string text;
  if (!KaOSAL::GetErrorText(static_cast<uint32_t>(error), text)) {
    return "error " + std::to_string(error);
  }
  while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r' || text.back() == u'.')) {
    text.pop_back();
  }
  return KaOSAL::ToUtf8(text);
}

int MakeFolders(const std::string& folder) {
  // The drive ("C:"), or the server and share of a UNC path, exist or not:
  // folders are made below them.
  size_t end = 0;
  if (folder.size() >= 2 && folder[1] == ':') {
    end = 2;
  } else if (folder.size() >= 2 && IsSeparator(folder[0]) && IsSeparator(folder[1])) {
    end = folder.find_first_of("\\/", folder.find_first_of("\\/", 2) + 1);
  }
  while (end != std::string::npos) {
    end = folder.find_first_of("\\/", end + 1);
    const std::string part = folder.substr(0, end);
    if (!IsSeparator(part.back()) && !CreateDirectoryW(Widen(part).c_str(), nullptr) &&
        ::GetLastError() != ERROR_ALREADY_EXISTS) {
      return static_cast<int>(::GetLastError());
    }
  }
  return 0;
}

std::string ParentFolder(const std::string& path) {
  const size_t separator = path.find_last_of("\\/");
  if (separator == std::string::npos) return ".";
  return path.substr(0, separator == 0 ? 1 : separator);
}

bool RenameFile(const std::string& from, const std::string& to) {
  return MoveFileExW(Widen(from).c_str(), Widen(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

void WriteToStandardError(std::string_view text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written,
            nullptr);
}

}  // namespace wardex::crashlog
