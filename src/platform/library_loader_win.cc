// LoadLibraryExW through the checked file. The file is held open with read
// sharing only from the check until it is loaded, and loaded by the path the
// system resolves for that handle, so links retargeted in between lead
// nowhere. Dependencies are found beside the library, beside the program and
// in the system folder: never in the current folder or on PATH.
#include "platform/library_loader.h"

#include <string>
#include <string_view>
#include <utility>

#include "osal/last_error.h"
#include "platform/thread_end.h"
#include "platform/windows_api.h"

namespace wardex::platform {

const char16_t kLibraryExtension[] = u"dll";

struct LoadedLibrary {
  HMODULE module;
  KaOSAL::KaString path;
};

namespace {

constexpr DWORD kSafeSearch = LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;

// Not a KaString: freeing that at the thread's end would refill the string
// pool's cache of a thread whose cache is already handed back.
std::u16string& LastLoadError() {
  static auto* const errors = new PerThread<std::u16string>;  // never destroyed
  return errors->Get();
}

const wchar_t* Wide(const KaOSAL::KaString& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

KaOSAL::KaString FromWide(const std::wstring& text) {
  return KaOSAL::KaString(reinterpret_cast<const char16_t*>(text.c_str()),
                          static_cast<int>(text.size()));
}

HANDLE HandleOf(NativeHandle handle) {
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle));
}

// The system's text for |error|, without its line end.
std::wstring SystemMessage(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message =
      length > 0 ? std::wstring(text, length) : L"error " + std::to_wstring(error);
  LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r')) {
    message.pop_back();
  }
  return message;
}

// The path the system resolves for an open file (links followed), or empty.
// A drive path short enough loses its "\\?\" prefix, so that the module is
// known by the form that log lines and crash reports show.
std::wstring FinalPath(HANDLE file) {
  std::wstring path(MAX_PATH, L'\0');
  DWORD length = GetFinalPathNameByHandleW(file, path.data(), static_cast<DWORD>(path.size()), 0);
  if (length >= path.size()) {
    path.resize(length);
    length = GetFinalPathNameByHandleW(file, path.data(), static_cast<DWORD>(path.size()), 0);
  }
  if (length == 0 || length >= path.size()) return {};
  path.resize(length);
  constexpr std::wstring_view kLongPrefix = L"\\\\?\\";
  if (path.starts_with(kLongPrefix) && path.size() > kLongPrefix.size() + 2 &&
      path[kLongPrefix.size() + 1] == L':' && path.size() - kLongPrefix.size() < MAX_PATH) {
    path.erase(0, kLongPrefix.size());
  }
  return path;
}

// True when |a| and |b| are handles of the same file.
bool SameFile(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION first{}, second{};
  return GetFileInformationByHandle(a, &first) && GetFileInformationByHandle(b, &second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

// True when |path| still names the open |file|. Windows refuses to rename a
// folder above an open file, Wine does not: this catches a folder swapped
// there between the check and the load.
bool PathStillNames(const std::wstring& path, HANDLE file) {
  const HANDLE again = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (again == INVALID_HANDLE_VALUE) return false;
  const bool same = SameFile(again, file);
  CloseHandle(again);
  return same;
}

}  // namespace

LibraryFile::~LibraryFile() {
  if (is_open()) CloseHandle(HandleOf(handle_));
}

LibraryFile::LibraryFile(LibraryFile&& other) noexcept
    : handle_(std::exchange(other.handle_, kNoNativeHandle)), path_(std::move(other.path_)) {}

LibraryFile& LibraryFile::operator=(LibraryFile&& other) noexcept {
  if (this != &other) {
    if (is_open()) CloseHandle(HandleOf(handle_));
    handle_ = std::exchange(other.handle_, kNoNativeHandle);
    path_ = std::move(other.path_);
  }
  return *this;
}

bool LibraryFile::Open(const KaOSAL::KaString& path) {
  if (is_open()) CloseHandle(HandleOf(std::exchange(handle_, kNoNativeHandle)));
  path_ = path;
  // Read sharing only: while it is open nobody may write, rename or delete
  // the file, and a file someone is still writing is not opened at all.
  const HANDLE file = CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    KaOSAL::SetLastError(error == ERROR_PATH_NOT_FOUND ? KaOSAL::kErrorFileNotFound : error);
    return false;
  }
  // A pipe or a device in place of the file is no library.
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    KaOSAL::SetLastError(KaOSAL::kErrorAccessDenied);
    return false;
  }
  handle_ = NativeHandle{reinterpret_cast<intptr_t>(file)};
  return true;
}

LibraryHandle LoadLibraryFromFile(LibraryFile file) {
  if (!file.is_open()) {
    KaOSAL::SetLastError(KaOSAL::kErrorInvalidHandle);
    return nullptr;
  }
  const HANDLE handle = HandleOf(file.native_handle());
  const std::wstring path = FinalPath(handle);
  HMODULE module = nullptr;
  DWORD error = ::GetLastError();
  if (!path.empty()) {
    // The open file is no longer at its path ("externally altered").
    error = ERROR_FILE_INVALID;
    if (PathStillNames(path, handle)) {
      module = LoadLibraryExW(path.c_str(), nullptr, kSafeSearch);
      error = ::GetLastError();
    }
  }
  if (module == nullptr) {
    const std::wstring text = std::wstring(Wide(file.path())) + L": " + SystemMessage(error);
    LastLoadError().assign(text.begin(), text.end());
    KaOSAL::SetLastError(error);
    return nullptr;
  }
  // The loaded image is locked by the system from here on: the file can go.
  return new LoadedLibrary{module, file.path()};
}

KaOSAL::KaString GetLastLoadError() { return KaOSAL::KaString(LastLoadError().c_str()); }

ProcAddress GetProcAddress(LibraryHandle library, const char* name) {
  if (library == nullptr || name == nullptr) return nullptr;
  return reinterpret_cast<ProcAddress>(::GetProcAddress(library->module, name));
}

bool FreeLibrary(LibraryHandle library) {
  if (library == nullptr) {
    KaOSAL::SetLastError(KaOSAL::kErrorInvalidHandle);
    return false;
  }
  if (!::FreeLibrary(library->module)) {
    KaOSAL::SetLastError(::GetLastError());
    return false;
  }
  delete library;
  return true;
}

KaOSAL::KaString GetLibraryPath(LibraryHandle library) {
  return library == nullptr ? KaOSAL::KaString() : library->path;
}

KaOSAL::KaString ResolveLibraryName(const KaOSAL::KaString& name) {
  std::wstring program(MAX_PATH, L'\0');
  DWORD length = 0;
  while ((length = GetModuleFileNameW(nullptr, program.data(),
                                      static_cast<DWORD>(program.size()))) == program.size()) {
    program.resize(program.size() * 2);
  }
  program.resize(length);
  return FromWide(program.substr(0, program.find_last_of(L"\\/") + 1) + Wide(name));
}

}  // namespace wardex::platform
