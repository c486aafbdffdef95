// kpitrack.so: the tracking library. Each recorded event becomes one line,
// appended to $XDG_STATE_HOME/wardex/kpitrack.log (~/.local/state when unset):
//   <UTC time> TAB <tracker|kpi> TAB <application> TAB <source> TAB <flags>
//   TAB <category> TAB <action> TAB <label> TAB <text1> TAB <text2> TAB <value>
// where <flags> is "i" (interactive) and "v" (verbose) as set, or "-".
// in UTF-8, tabs and line breaks inside a text replaced by blanks. Nothing
// leaves the machine.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>

#include "osal/wide_format.h"
#include "wardex/tracker.h"

namespace {

// The log's folder, made on first use; empty when no home is known.
std::string EventFolder() {
  std::string base;
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') {
    base = state;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
    base = std::string(home) + "/.local/state";
  } else {
    return {};
  }
  const std::string folder = base + "/wardex";
  for (size_t slash = 1; slash != std::string::npos; slash = folder.find('/', slash + 1)) {
    const std::string part = folder.substr(0, slash);
    if (!part.empty()) mkdir(part.c_str(), 0700);
  }
  mkdir(folder.c_str(), 0700);
  return folder;
}

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
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  gmtime_r(&now, &parts);
  char text[32];
  std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

// Appends one line with a single write, so lines of several processes never mix.
bool AppendLine(const std::string& line) {
  const std::string folder = EventFolder();
  if (folder.empty()) return false;
  const int fd =
      open((folder + "/kpitrack.log").c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  ssize_t written;
  do {
    written = write(fd, line.data(), line.size());
  } while (written < 0 && errno == EINTR);
  close(fd);
  return written == static_cast<ssize_t>(line.size());
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
