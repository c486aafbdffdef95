// The tracking library (kpitrack.so, kpitrack.dll): loaded and configured on the first
// start of the process, counted by later starts, released at zero.
#pragma once

#include <cstdint>

#include "osal/ka_string.h"
#include "platform/library_loader.h"
#include "wardex/tracker.h"

namespace wardex {

class TrackingLibrary {
 public:
  // |file_name|: the library's bare file name, found beside the agent.
  explicit TrackingLibrary(KaOSAL::KaString file_name = platform::LibraryFileName(u"kpitrack"));
  ~TrackingLibrary();
  TrackingLibrary(const TrackingLibrary&) = delete;
  TrackingLibrary& operator=(const TrackingLibrary&) = delete;

  // Only while the count is 0: loads the library and creates and configures
  // the tracker and the KPI tracker (texts only when not empty, flags only when
  // set). Always counts. True when the library and both trackers are held.
  bool Start(const KaOSAL::KaString& first_text, bool first_flag,
             const KaOSAL::KaString& second_text, bool second_flag);

  // Hands the event to the tracker; false when none is held.
  bool Event(const KaOSAL::KaString& category, const KaOSAL::KaString& action,
             const KaOSAL::KaString& label, const KaOSAL::KaString& text1,
             const KaOSAL::KaString& text2, int32_t value);

  // Uncounts; at zero destroys both trackers and unloads the library, and
  // reports true. False while other starts remain.
  bool Release();

  int count() const { return count_; }

 private:
  // The tracker that |factory| makes, configured, or null.
  ITracker* CreateTracker(const char* factory, const KaOSAL::KaString& first_text, bool first_flag,
                          const KaOSAL::KaString& second_text, bool second_flag);

  const KaOSAL::KaString file_name_;
  platform::LibraryHandle library_ = nullptr;
  ITracker* tracker_ = nullptr;
  ITracker* kpi_tracker_ = nullptr;
  int count_ = 0;  // touched only by the user-interface thread
};

// The process's tracking library.
TrackingLibrary& Tracking();

}  // namespace wardex
