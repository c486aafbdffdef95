// The logging library (VeLogger.so) and the styler library (VeStyler.so) that
// the graphics layer keeps loaded while it runs. The agent calls no operation
// of either interface; it only holds the instances.
#pragma once

#include <cstdint>

#include "wardex/export.h"

namespace wardex {

class WARDEX_INTERFACE IVeLogger {
 public:
  virtual void Log(int32_t level, const char16_t* text) = 0;

 protected:
  virtual ~IVeLogger() = default;
};

class WARDEX_INTERFACE IVeStyler {
 public:
  // The colour (red + green * 256 + blue * 65536) of a style element.
  virtual uint32_t GetColor(int32_t element) = 0;

 protected:
  virtual ~IVeStyler() = default;
};

inline constexpr char kGetLoggerInstanceExport[] = "GetLoggerInstance";
inline constexpr char kDestroyLoggerInstanceExport[] = "DestroyLoggerInstance";
inline constexpr char kGetStylerInstanceExport[] = "GetStylerInstance";
inline constexpr char kDestroyStylerInstanceExport[] = "DestroyStylerInstance";

// Each library's factory returns its one instance; its destroy takes it back.
using GetLoggerInstanceFn = IVeLogger* (*)();
using GetStylerInstanceFn = IVeStyler* (*)();
using DestroyVeInstanceFn = void (*)();

}  // namespace wardex
