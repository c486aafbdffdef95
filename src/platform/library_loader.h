// Loading shared libraries at run time: the stand-in for LoadLibrary,
// GetProcAddress and FreeLibrary.
//
// A library is loaded through the very file that was checked: the caller opens
// a LibraryFile, verifies it through that open file, and hands it to
// LoadLibraryFromFile. On Linux the dynamic loader maps "/proc/self/fd/N", and
// the descriptor stays open while the library is loaded, because the loader
// remembers the library by that name: were the number reused for another file,
// loading it would return the old library. On Windows the file is held open
// without write or delete sharing until it is loaded, so that nobody can
// change, replace or remove it in between, and it is loaded by the path the
// system gives for that open file.
#pragma once

#include <cstdint>

#include "osal/ka_string.h"
#include "platform/native_handle.h"

namespace wardex::platform {

// The extension of a shared library's file name: "so", on Windows "dll".
extern const char16_t kLibraryExtension[];
// |stem| with that extension: "kpitrack.so", on Windows "kpitrack.dll".
[[nodiscard]] KaOSAL::KaString LibraryFileName(const char16_t* stem);

struct LoadedLibrary;
// Null when nothing is loaded.
using LibraryHandle = LoadedLibrary*;

// A library file opened for checking and loading.
class LibraryFile {
 public:
  LibraryFile() = default;
  ~LibraryFile();
  LibraryFile(LibraryFile&& other) noexcept;
  LibraryFile& operator=(LibraryFile&& other) noexcept;
  LibraryFile(const LibraryFile&) = delete;
  LibraryFile& operator=(const LibraryFile&) = delete;

  // Opens a regular file for reading. False with the last error set
  // (kErrorFileNotFound when there is no such file).
  [[nodiscard]] bool Open(const KaOSAL::KaString& path);
  bool is_open() const { return handle_ != kNoNativeHandle; }
  const KaOSAL::KaString& path() const { return path_; }
  // The system's own handle of the open file (a descriptor, or a Windows
  // HANDLE), for the platform layer's files only; never close it.
  NativeHandle native_handle() const { return handle_; }

 private:
  friend LibraryHandle LoadLibraryFromFile(LibraryFile file);
  NativeHandle handle_ = kNoNativeHandle;
  KaOSAL::KaString path_;
};

// Loads the library from |file| (on Linux resolving all its symbols now,
// keeping them local to it). Returns null with the last error set when it
// cannot be loaded.
[[nodiscard]] LibraryHandle LoadLibraryFromFile(LibraryFile file);
// The system loader's message for this thread's last LoadLibraryFromFile
// that failed (a missing dependency, an unresolved symbol), naming the file
// by its path rather than by the descriptor it was loaded through.
KaOSAL::KaString GetLastLoadError();

// An exported function's address, as a function pointer (FARPROC) so that
// callers convert it to their function type without a cast between object
// and function pointers, which is only conditionally supported.
using ProcAddress = void (*)();

// The address of the exported function |name|, or null.
ProcAddress GetProcAddress(LibraryHandle library, const char* name);

// Releases a handle. False (the handle stays valid) when the dynamic loader
// refuses.
[[nodiscard]] bool FreeLibrary(LibraryHandle library);

// The real path of the file the library was loaded from.
KaOSAL::KaString GetLibraryPath(LibraryHandle library);

// True when |name| has no folder part, so that it is looked for as the
// system's loader looks for the agent's own libraries.
bool IsBareLibraryName(const KaOSAL::KaString& name);

// Where a bare library name is found: on Linux the first folder of
// LD_LIBRARY_PATH that holds it, else the executable's own folder (its RUNPATH
// is $ORIGIN); on Windows the executable's folder, the first place of the
// system's safe search. The result names the executable's folder when no such
// file exists.
KaOSAL::KaString ResolveLibraryName(const KaOSAL::KaString& name);

}  // namespace wardex::platform
