// Folder listing with FindFirstFileW, whose order is the file system's own.
#include "platform/directory_list.h"

#include <string>

#include "platform/system_error_win_internal.h"
#include "platform/windows_api.h"

namespace wardex::platform {

bool ListDirectory(const KaOSAL::KaString& folder, std::vector<DirectoryEntry>& entries) {
  entries.clear();
  std::u16string pattern(folder.c_str(), static_cast<size_t>(folder.GetLength()));
  if (!pattern.empty() && pattern.back() != u'\\' && pattern.back() != u'/') pattern += u'\\';
  pattern += u'*';
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileExW(reinterpret_cast<const wchar_t*>(pattern.c_str()),
                                   FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) {
    KeepSystemError();
    return false;
  }
  do {
    const std::u16string name(reinterpret_cast<const char16_t*>(found.cFileName));
    if (name == u"." || name == u"..") continue;
    // A junction or a folder's symbolic link carries the directory attribute
    // of its own, as a followed link does on Linux.
    entries.push_back({KaOSAL::KaString(name.c_str(), static_cast<int>(name.size())),
                       (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (FindNextFileW(search, &found));
  const DWORD error = ::GetLastError();
  FindClose(search);
  if (error != ERROR_NO_MORE_FILES) {
    KaOSAL::SetLastError(error);
    return false;
  }
  return true;
}

}  // namespace wardex::platform
