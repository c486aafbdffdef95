// dlopen through /proc/self/fd: the file that was checked is the file loaded.
#include "platform/library_loader.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "osal/last_error.h"
#include "osal/wide_format.h"
#include "platform/scoped_fd_posix.h"
#include "platform/system_paths.h"

namespace wardex::platform {

const char16_t kLibraryExtension[] = u"so";

struct LoadedLibrary {
  void* dl;
  dev_t device;
  ino_t inode;
  KaOSAL::KaString path;
};

namespace {

// The Win32 code for "not a valid library" (ERROR_BAD_EXE_FORMAT).
constexpr uint32_t kErrorBadExeFormat = 193;

// One open descriptor per loaded file (by device and inode), shared by every
// handle of that file, so the dynamic loader sees one name per library.
struct OpenImage {
  ScopedFd descriptor;
  int handles;
};

// Never destroyed: libraries are still freed by other objects' destructors
// while the process exits.
std::mutex& ImagesMutex() {
  static auto* mutex = new std::mutex;
  return *mutex;
}

std::map<std::pair<dev_t, ino_t>, OpenImage>& Images() {
  static auto* images = new std::map<std::pair<dev_t, ino_t>, OpenImage>;
  return *images;
}

std::string ProcName(int descriptor) { return "/proc/self/fd/" + std::to_string(descriptor); }

thread_local KaOSAL::KaString t_last_load_error;

std::string Utf8(const KaOSAL::KaString& text) {
  return KaOSAL::ToUtf8(text.c_str(), static_cast<size_t>(text.GetLength()));
}

KaOSAL::KaString Wide(const std::string& text) {
  const std::u16string wide = KaOSAL::FromUtf8(text);
  return KaOSAL::KaString(wide.c_str(), static_cast<int>(wide.size()));
}

bool IsRegularFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The executable's folder with a trailing separator, or empty.
std::string ExecutableFolder() {
  const std::string exe = Utf8(GetExecutableFilePath());
  const size_t slash = exe.rfind('/');
  return slash == std::string::npos ? std::string() : exe.substr(0, slash + 1);
}

}  // namespace

LibraryFile::~LibraryFile() {
  if (is_open()) close(static_cast<int>(handle_));
}

LibraryFile::LibraryFile(LibraryFile&& other) noexcept
    : handle_(std::exchange(other.handle_, kNoNativeHandle)), path_(std::move(other.path_)) {}

LibraryFile& LibraryFile::operator=(LibraryFile&& other) noexcept {
  if (this != &other) {
    if (is_open()) close(static_cast<int>(handle_));
    handle_ = std::exchange(other.handle_, kNoNativeHandle);
    path_ = std::move(other.path_);
  }
  return *this;
}

bool LibraryFile::Open(const KaOSAL::KaString& path) {
  if (is_open()) close(static_cast<int>(std::exchange(handle_, kNoNativeHandle)));
  path_ = path;
  // Non-blocking, so that a named pipe in place of the file is refused below
  // instead of waiting for a writer; reading a regular file ignores the flag.
  ScopedFd fd(open(Utf8(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (fd.get() < 0) {
    KaOSAL::SetLastErrorFromErrno(errno == ENOTDIR ? ENOENT : errno);
    return false;
  }
  struct stat info {};
  if (fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    KaOSAL::SetLastError(KaOSAL::kErrorAccessDenied);
    return false;
  }
  handle_ = NativeHandle{fd.release()};
  return true;
}

LibraryHandle LoadLibraryFromFile(LibraryFile file) {
  const int file_descriptor = static_cast<int>(file.handle_);
  struct stat info {};
  if (!file.is_open() || fstat(file_descriptor, &info) != 0) {
    KaOSAL::SetLastError(KaOSAL::kErrorInvalidHandle);
    return nullptr;
  }
  const std::pair<dev_t, ino_t> key{info.st_dev, info.st_ino};
  std::lock_guard<std::mutex> lock(ImagesMutex());
  auto& images = Images();
  const auto found = images.find(key);
  const int descriptor = found != images.end() ? found->second.descriptor.get() : file_descriptor;
  const std::string proc_name = ProcName(descriptor);
  void* dl = dlopen(proc_name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (dl == nullptr) {
    const char* error = dlerror();
    std::string message = error != nullptr ? error : "";
    for (size_t at; (at = message.find(proc_name)) != std::string::npos;) {
      message.replace(at, proc_name.size(), Utf8(file.path()));
    }
    t_last_load_error = Wide(message);
    KaOSAL::SetLastError(kErrorBadExeFormat);
    return nullptr;
  }
  if (found != images.end()) {
    ++found->second.handles;  // |file| closes its own, unused descriptor
  } else {
    file.handle_ = kNoNativeHandle;
    images.emplace(key, OpenImage{ScopedFd(file_descriptor), 1});
  }
  return new LoadedLibrary{dl, info.st_dev, info.st_ino, file.path()};
}

KaOSAL::KaString GetLastLoadError() { return t_last_load_error; }

ProcAddress GetProcAddress(LibraryHandle library, const char* name) {
  if (library == nullptr || name == nullptr) return nullptr;
  // POSIX guarantees that dlsym's object pointer holds a function's address.
  return std::bit_cast<ProcAddress>(dlsym(library->dl, name));
}

bool FreeLibrary(LibraryHandle library) {
  if (library == nullptr) {
    KaOSAL::SetLastError(KaOSAL::kErrorInvalidHandle);
    return false;
  }
  std::lock_guard<std::mutex> lock(ImagesMutex());
  if (dlclose(library->dl) != 0) {
    KaOSAL::SetLastError(KaOSAL::kErrorInvalidHandle);
    return false;
  }
  auto& images = Images();
  const auto found = images.find({library->device, library->inode});
  delete library;
  if (found == images.end() || --found->second.handles > 0) return true;
  // A library that another library still needs, or that asked never to be
  // unloaded, stays mapped under its descriptor's name: keep the descriptor.
  const std::string name = ProcName(found->second.descriptor.get());
  if (void* still_loaded = dlopen(name.c_str(), RTLD_LAZY | RTLD_NOLOAD)) {
    dlclose(still_loaded);
    return true;
  }
  images.erase(found);
  return true;
}

KaOSAL::KaString GetLibraryPath(LibraryHandle library) {
  return library == nullptr ? KaOSAL::KaString() : library->path;
}

KaOSAL::KaString ResolveLibraryName(const KaOSAL::KaString& name) {
  const std::string file = Utf8(name);
  if (const char* search = std::getenv("LD_LIBRARY_PATH")) {
    const std::string folders = search;
    size_t start = 0;
    while (start <= folders.size()) {
      size_t end = folders.find(':', start);
      if (end == std::string::npos) end = folders.size();
      const std::string folder = folders.substr(start, end - start);
      if (!folder.empty() && IsRegularFile(folder + "/" + file)) return Wide(folder + "/" + file);
      start = end + 1;
    }
  }
  return Wide(ExecutableFolder() + file);
}

}  // namespace wardex::platform
