// The logging and styler libraries (VeLogger and VeStyler, .so or .dll): each loaded on
// its first start, its one instance kept while starts are counted.
#pragma once

#include "osal/ka_string.h"
#include "platform/library_loader.h"
#include "wardex/ve_libraries.h"

namespace wardex {

template <typename Interface>
class VeLibrary {
 public:
  // |file_name|: the bare file name; |factory|, |destroy|: the exports.
  VeLibrary(KaOSAL::KaString file_name, const char* factory, const char* destroy);
  ~VeLibrary();
  VeLibrary(const VeLibrary&) = delete;
  VeLibrary& operator=(const VeLibrary&) = delete;

  // While the count is 0 and no instance is held: loads the library (by bare
  // name, else from the executable's folder) and creates the instance.
  // Counts; true when both the library and the instance are held.
  bool Start();
  // Uncounts; at zero destroys the instance and unloads the library, and
  // reports true. False while other starts remain.
  bool Release();

  int count() const { return count_; }
  Interface* instance() const { return instance_; }

 private:
  const KaOSAL::KaString file_name_;
  const char* const factory_;
  const char* const destroy_;
  platform::LibraryHandle library_ = nullptr;
  Interface* instance_ = nullptr;
  int count_ = 0;
};

using VeLoggerLibrary = VeLibrary<IVeLogger>;
using VeStylerLibrary = VeLibrary<IVeStyler>;

// The two libraries with their file names and exports.
VeLoggerLibrary MakeVeLoggerLibrary();
VeStylerLibrary MakeVeStylerLibrary();

}  // namespace wardex
