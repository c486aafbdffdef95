// kpitrack.so (kpitrack.dll): the tracking library. Each recorded event
// becomes one line, appended to wardex/kpitrack.log in the user's state
// folder ($XDG_STATE_HOME or ~/.local/state; the local application data
// folder on Windows):
//   <UTC time> TAB <tracker|kpi> TAB <application> TAB <source> TAB <flags>
//   TAB <category> TAB <action> TAB <label> TAB <text1> TAB <text2> TAB <value>
// where <flags> is "i" (interactive) and "v" (verbose) as set, or "-".
// in UTF-8, tabs and line breaks inside a text replaced by blanks. Nothing
// leaves the machine.
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

#include "osal/civil_date.h"
#include "osal/wide_format.h"
#include "platform/create_folder.h"
#include "platform/file_system.h"
#include "platform/system_paths.h"
#include "wardex/tracker.h"

namespace {

// UTF-8 of |text| with the field separators blanked.
std::string Field(const char16_t* text) {
  if (text == nullptr) return {};
  std::string utf8 = KaOSAL::ToUtf8(std::u16string(text));
  for (char& c : utf8) {
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  }
  return utf8;
}

std::string UtcNow() {
  constexpr int64_t kSecondsPerDay = 86400;
  const int64_t now = std::time(nullptr);
  const int64_t days = now >= 0 ? now / kSecondsPerDay : (now + 1) / kSecondsPerDay - 1;
  const auto second = static_cast<unsigned>(now - days * kSecondsPerDay);
  const KaOSAL::CivilDate date = KaOSAL::CivilFromDays(days);
  char text[64];
  std::snprintf(text, sizeof(text), "%04lld-%02u-%02uT%02u:%02u:%02uZ",
                static_cast<long long>(date.year), date.month, date.day, second / 3600,
                second / 60 % 60, second % 60);
  return text;
}

// Appends one line with a single write to the log in its folder, made on
// first use; false when no state folder is known.
bool AppendLine(const std::string& line) {
  const KaOSAL::KaString state = wardex::platform::GetUserStateFolder();
  if (state.IsEmpty()) return false;
  // Windows takes "/" as a separator too.
  const KaOSAL::KaString folder = state + u"/wardex";
  static_cast<void>(wardex::platform::CreateFolder(folder, false));
  return wardex::platform::AppendToFile(folder + u"/kpitrack.log", line);
}

class Tracker final : public wardex::ITracker {
 public:
  explicit Tracker(const char* kind) : kind_(kind) {}

  void SetSource(const char16_t* source) override {
    std::lock_guard<std::mutex> hold(lock_);
    source_ = Field(source);
  }
  void SetInteractive(bool interactive) override {
    std::lock_guard<std::mutex> hold(lock_);
    interactive_ = interactive;
  }
  void SetVerbose(bool verbose) override {
    std::lock_guard<std::mutex> hold(lock_);
    verbose_ = verbose;
  }
  bool TrackEvent(const char16_t* category, const char16_t* action, const char16_t* label,
                  const char16_t* text1, const char16_t* text2, int32_t value) override {
    std::string line;
    {
      std::lock_guard<std::mutex> hold(lock_);
      std::string flags = std::string(interactive_ ? "i" : "") + (verbose_ ? "v" : "");
      line = UtcNow() + "\t" + kind_ + "\t" + application_ + "\t" + source_ + "\t" +
             (flags.empty() ? "-" : flags);
    }
    for (const char16_t* text : {category, action, label, text1, text2}) line += "\t" + Field(text);
    line += "\t" + std::to_string(value) + "\n";
    return AppendLine(line);
  }
  void SetApplication(const KaOSAL::KaString& application) override {
    std::lock_guard<std::mutex> hold(lock_);
    application_ = Field(application.c_str());
  }

 private:
  const char* const kind_;
  std::mutex lock_;
  std::string application_;
  std::string source_;
  bool interactive_ = false;
  bool verbose_ = false;
};

// The library's two instances, each made on first use and destroyed on request.
std::mutex g_instances_lock;
Tracker* g_tracker = nullptr;
Tracker* g_kpi_tracker = nullptr;

wardex::ITracker* Instance(Tracker*& slot, const char* kind) {
  std::lock_guard<std::mutex> hold(g_instances_lock);
  if (slot == nullptr) slot = new Tracker(kind);
  return slot;
}

void Destroy(Tracker*& slot) {
  std::lock_guard<std::mutex> hold(g_instances_lock);
  delete slot;
  slot = nullptr;
}

}  // namespace

WARDEX_EXPORT wardex::ITracker* GetTrackerInstance() { return Instance(g_tracker, "tracker"); }
WARDEX_EXPORT wardex::ITracker* GetKPITrackerInstance() { return Instance(g_kpi_tracker, "kpi"); }
WARDEX_EXPORT void DestroyTrackerInstance() { Destroy(g_tracker); }
WARDEX_EXPORT void DestroyKPITrackerInstance() { Destroy(g_kpi_tracker); }
