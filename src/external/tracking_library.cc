#include "external/tracking_library.h"

#include <utility>

#include "modules/module_library.h"

namespace wardex {

TrackingLibrary::TrackingLibrary(KaOSAL::KaString file_name) : file_name_(std::move(file_name)) {}

TrackingLibrary::~TrackingLibrary() {
  while (count_ > 0 && !Release()) {
  }
}

ITracker* TrackingLibrary::CreateTracker(const char* factory, const KaOSAL::KaString& first_text,
                                         bool first_flag, const KaOSAL::KaString& second_text,
                                         bool second_flag) {
  if (library_ == nullptr) library_ = LoadModuleLibrary(KaOSAL::KaPath(file_name_));
  auto create = reinterpret_cast<GetTrackerInstanceFn>(platform::GetProcAddress(library_, factory));
  ITracker* tracker = create != nullptr ? create() : nullptr;
  if (tracker == nullptr) return nullptr;
  if (!second_text.IsEmpty()) tracker->SetSource(second_text.c_str());
  if (!first_text.IsEmpty()) tracker->SetApplication(first_text);
  if (second_flag) tracker->SetVerbose(second_flag);
  if (first_flag) tracker->SetInteractive(first_flag);
  return tracker;
}

bool TrackingLibrary::Start(const KaOSAL::KaString& first_text, bool first_flag,
                            const KaOSAL::KaString& second_text, bool second_flag) {
  if (count_ == 0) {
    if (tracker_ == nullptr) {
      tracker_ = CreateTracker(kGetTrackerInstanceExport, first_text, first_flag, second_text,
                               second_flag);
    }
    if (kpi_tracker_ == nullptr) {
      kpi_tracker_ = CreateTracker(kGetKPITrackerInstanceExport, first_text, first_flag,
                                   second_text, second_flag);
    }
  }
  ++count_;
  return library_ != nullptr && tracker_ != nullptr && kpi_tracker_ != nullptr;
}

bool TrackingLibrary::Event(const KaOSAL::KaString& category, const KaOSAL::KaString& action,
                            const KaOSAL::KaString& label, const KaOSAL::KaString& text1,
                            const KaOSAL::KaString& text2, int32_t value) {
  if (tracker_ == nullptr) return false;
  tracker_->TrackEvent(category.c_str(), action.c_str(), label.c_str(), text1.c_str(),
                       text2.c_str(), value);
  return true;
}

bool TrackingLibrary::Release() {
  if (count_ > 0) --count_;
  if (count_ > 0) return false;
  if (library_ != nullptr) {
    for (const char* destroy_name :
         {kDestroyTrackerInstanceExport, kDestroyKPITrackerInstanceExport}) {
      auto destroy = reinterpret_cast<DestroyTrackerInstanceFn>(
          platform::GetProcAddress(library_, destroy_name));
      if (destroy != nullptr) destroy();
    }
    // Nothing to do when the loader refuses: the library stays mapped.
    (void)platform::FreeLibrary(library_);
  }
  library_ = nullptr;
  tracker_ = nullptr;
  kpi_tracker_ = nullptr;
  return true;
}

TrackingLibrary& Tracking() {
  static TrackingLibrary tracking;
  return tracking;
}

}  // namespace wardex
