// HandsetLinkModule.so: while the agent runs, it watches the handsets that
// the suite's pairing tool has linked to this user, one file each in
// <state folder>/handsets/ (the file's name is the handset's; see StateFolder), and
// logs each one that comes or goes. The agent starts the watch once after
// loading the module and stops it when it closes; stopping twice is harmless.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "../common/demo_module.h"
#include "platform/directory_list.h"
#include "wardex/crashlog.h"
#include "wardex/module.h"

namespace wardex::demo {
namespace {

constexpr char kModuleName[] = "HandsetLinkModule";
constexpr auto kScanInterval = std::chrono::seconds(1);

// The names of the linked handsets, empty when the folder is missing.
std::set<std::string> LinkedHandsets() {
  std::set<std::string> names;
  std::vector<platform::DirectoryEntry> entries;
  if (!platform::ListDirectory(InFolder(StateFolder(), u"handsets"), entries)) return names;
  for (const platform::DirectoryEntry& entry : entries) {
    if (!entry.name.StartsWith(u".")) names.insert(Utf8(entry.name));
  }
  return names;
}

class HandsetLinkModule final : public DemoModule<IModule, kModuleName> {
 public:
  ~HandsetLinkModule() override { StopMonitoring(); }

  uint32_t GetFlags() override { return 0; }  // no tasks, no switch

  void StartMonitoring(int32_t, int32_t) override {
    std::lock_guard<std::mutex> hold(lock_);
    if (watcher_.joinable()) return;
    stopping_ = false;
    watcher_ = std::thread(&HandsetLinkModule::Watch, this);
    LogW(kLogInfo, u"HandsetLinkModule: monitoring started");
  }

  void StopMonitoring() override {
    std::thread watcher;
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (!watcher_.joinable()) return;
      stopping_ = true;
      watcher = std::move(watcher_);
    }
    stop_.notify_all();
    watcher.join();
    LogW(kLogInfo, u"HandsetLinkModule: monitoring stopped");
  }

 private:
  void Watch() {
    std::set<std::string> known;
    std::unique_lock<std::mutex> hold(lock_);
    while (!stopping_) {
      hold.unlock();
      const std::set<std::string> now = LinkedHandsets();
      for (const std::string& name : now) {
        if (!known.contains(name)) LogW(kLogInfo, u"HandsetLinkModule: %S linked", name.c_str());
      }
      for (const std::string& name : known) {
        if (!now.contains(name)) LogW(kLogInfo, u"HandsetLinkModule: %S gone", name.c_str());
      }
      known = now;
      hold.lock();
      stop_.wait_for(hold, kScanInterval, [this] { return stopping_; });
    }
  }

  std::mutex lock_;
  std::condition_variable stop_;
  bool stopping_ = false;
  std::thread watcher_;
};

}  // namespace
}  // namespace wardex::demo

WARDEX_EXPORT wardex::IModule* CreateInstanceOfModule() {
  return new wardex::demo::HandsetLinkModule;
}

WARDEX_EXPORT void WARDEX_STDCALL DestroyInstanceOfModule(wardex::IModule* instance) {
  delete static_cast<wardex::demo::HandsetLinkModule*>(instance);
}
