// The tracking library (kpitrack.so): a tracker that receives the agent's
// usage events and a KPI tracker of the same layout. The agent configures
// each once, on the first start of the process, and sends events to the
// tracker only.
#pragma once

#include <cstdint>

#include "osal/ka_string.h"
#include "wardex/export.h"

namespace wardex {

// Called on the agent's frame thread (or the main thread of a -register run).
class WARDEX_INTERFACE ITracker {
 public:
  // The source of the events (the agent's second start text), as a C string.
  virtual void SetSource(const char16_t* source) = 0;
  // The agent's first start flag: the events come from an interactive session.
  virtual void SetInteractive(bool interactive) = 0;
  // The agent's second start flag: record more detail.
  virtual void SetVerbose(bool verbose) = 0;
  // Records one event; true when it was recorded.
  virtual bool TrackEvent(const char16_t* category, const char16_t* action, const char16_t* label,
                          const char16_t* text1, const char16_t* text2, int32_t value) = 0;
  // The application the events belong to (the agent's first start text).
  virtual void SetApplication(const KaOSAL::KaString& application) = 0;

 protected:
  virtual ~ITracker() = default;
};

// Exports of the tracking library.
inline constexpr char kGetTrackerInstanceExport[] = "GetTrackerInstance";
inline constexpr char kGetKPITrackerInstanceExport[] = "GetKPITrackerInstance";
inline constexpr char kDestroyTrackerInstanceExport[] = "DestroyTrackerInstance";
inline constexpr char kDestroyKPITrackerInstanceExport[] = "DestroyKPITrackerInstance";

// Return the library's one tracker (or KPI tracker), made on first use.
using GetTrackerInstanceFn = ITracker* (*)();
// Destroy the instance that the matching factory returned.
using DestroyTrackerInstanceFn = void (*)();

}  // namespace wardex
