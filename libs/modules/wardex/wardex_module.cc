// WardexModule.so: the suite's own monitoring module. Its task checks the free
// space on the file system of the user's home on a worker thread and reports
// it as a notification through the Console; the last notification is kept so
// that the tray menu can show it again (see notification_board.h). Monitoring
// repeats the check every hour and notifies only when space runs low.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "../common/demo_module.h"
#include "disk_check.h"
#include "notification_board.h"
#include "osal/ka_string.h"
#include "wardex/console_view.h"
#include "wardex/crashlog.h"
#include "wardex/module.h"

namespace wardex::demo {
namespace {

constexpr char kModuleName[] = "WardexModule";
// RunTask's parameter that asks to show the last notification again.
constexpr int32_t kShowLastNotification = 1;
constexpr std::chrono::hours kMonitoringInterval{1};

// What one check reports, in the module's result fields.
struct TaskResult {
  double level = 0.0;  // free space in percent
  KaOSAL::KaString text;
  KaOSAL::KaString description;
  KaOSAL::KaString details;
  KaOSAL::KaString sub_results;
};

TaskResult Describe(const DiskSpace& space) {
  TaskResult result;
  if (!space.ok) {
    result.text = u"Disk check failed";
    result.description = Wide("Could not read the free space of " + space.folder + ": " +
                              std::to_string(space.error));
    result.details = Wide(space.folder);
    return result;
  }
  char percent[16];
  std::snprintf(percent, sizeof(percent), "%.0f %%", space.FreePercent());
  result.level = space.FreePercent();
  result.text = space.Low() ? u"Low disk space" : u"Enough free disk space";
  result.description =
      Wide(FormatBytes(space.free_bytes) + " of " + FormatBytes(space.total_bytes) + " free on " +
           space.folder + " (" + percent + ")");
  result.details = Wide(space.folder);
  result.sub_results = Wide("FreeBytes=" + std::to_string(space.free_bytes) +
                            "\nTotalBytes=" + std::to_string(space.total_bytes));
  return result;
}

class WardexModule final : public DemoModule<IModule, kModuleName> {
 public:
  WardexModule() { NotificationBoard::Get().Attach(); }

  ~WardexModule() override {
    StopMonitoring();
    JoinWorker();
    NotificationBoard::Get().Detach(this);
  }

  int32_t GetMenuText(char16_t* buffer, int32_t capacity) override {
    return CopyText(u"Free disk space", buffer, capacity);
  }
  uint32_t GetFlags() override { return kModuleFlagRunsTasks; }

  double GetResultLevel(int32_t) override {
    std::lock_guard<std::mutex> hold(lock_);
    return result_.level;
  }
  void GetResultText(char16_t* buffer, int32_t capacity, int32_t) override {
    std::lock_guard<std::mutex> hold(lock_);
    CopyText(result_.text, buffer, capacity);
  }
  void GetResultDescription(char16_t* buffer, int32_t capacity, int32_t) override {
    std::lock_guard<std::mutex> hold(lock_);
    CopyText(result_.description, buffer, capacity);
  }
  void GetResultDetails(char16_t* buffer, int32_t capacity, int32_t) override {
    std::lock_guard<std::mutex> hold(lock_);
    CopyText(result_.details, buffer, capacity);
  }
  int32_t GetSubResults(char16_t* buffer, int32_t capacity, int32_t) override {
    std::lock_guard<std::mutex> hold(lock_);
    return CopyText(result_.sub_results, buffer, capacity);
  }

  // Starts a check in the background; a check already running is not doubled.
  void StartTask(int32_t, int32_t, int32_t) override { StartCheck(); }

  // 1 shows the last notification again; anything else runs a check and
  // returns when its result is there, so the reply carries it.
  void RunTask(int32_t parameter) override {
    if (parameter == kShowLastNotification) {
      if (!NotificationBoard::Get().ShowLast())
        LogW(kLogInfo, u"WardexModule: no notification to show again");
      return;
    }
    StartCheck();
    std::unique_lock<std::mutex> hold(lock_);
    finished_.wait(hold, [this] { return !running_; });
  }

  // The check takes milliseconds and cannot be interrupted: stopping waits for it.
  void StopTask(int32_t) override { JoinWorker(); }

  void SetConsoleView(IConsoleView* view) override { NotificationBoard::Get().SetView(this, view); }

  void StartMonitoring(int32_t, int32_t) override {
    std::lock_guard<std::mutex> hold(monitor_lock_);
    if (monitor_.joinable()) return;
    stop_monitoring_ = false;
    monitor_ = std::thread([this] { Monitor(); });
  }

  void StopMonitoring() override {
    {
      std::lock_guard<std::mutex> hold(monitor_lock_);
      stop_monitoring_ = true;
    }
    monitor_wake_.notify_all();
    std::thread monitor;
    {
      std::lock_guard<std::mutex> hold(monitor_lock_);
      monitor.swap(monitor_);
    }
    if (monitor.joinable()) monitor.join();
  }

 private:
  void StartCheck() {
    std::lock_guard<std::mutex> start(worker_lock_);
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (running_) return;
      running_ = true;
      result_ = TaskResult{};
      result_.text = u"Checking free disk space";
    }
    if (worker_.joinable()) worker_.join();  // the previous check has finished
    worker_ = std::thread([this] { RunCheck(/*task_check=*/true); });
  }

  void JoinWorker() {
    std::lock_guard<std::mutex> start(worker_lock_);
    if (worker_.joinable()) worker_.join();
  }

  // One check: a notification (a task's check always; monitoring only when
  // space is low or the check failed), then the results. In this order, so
  // that a caller that waited for the results finds the notification kept.
  void RunCheck(bool task_check) {
    const std::string folder = HomeFolder();
    LogW(kLogInfo, u"WardexModule: checking free space of %S", folder.c_str());
    const DiskSpace space = CheckFreeSpace(folder);
    const TaskResult result = Describe(space);
    LogW(kLogInfo, u"WardexModule: %s: %s", result.text.c_str(), result.description.c_str());
    if (task_check || space.Low() || !space.ok)
      NotificationBoard::Get().Notify({result.text, result.description});
    if (!task_check) return;  // monitoring keeps the task's results as they are
    {
      std::lock_guard<std::mutex> hold(lock_);
      result_ = result;
      running_ = false;
    }
    finished_.notify_all();
  }

  // The first check runs at once, whatever follows.
  void Monitor() {
    for (;;) {
      RunCheck(/*task_check=*/false);
      std::unique_lock<std::mutex> hold(monitor_lock_);
      if (monitor_wake_.wait_for(hold, kMonitoringInterval, [this] { return stop_monitoring_; }))
        return;
    }
  }

  std::mutex lock_;  // guards the fields below up to the worker
  std::condition_variable finished_;
  bool running_ = false;
  TaskResult result_;

  std::mutex worker_lock_;  // serialises starting and joining the worker
  std::thread worker_;

  std::mutex monitor_lock_;
  std::condition_variable monitor_wake_;
  bool stop_monitoring_ = false;
  std::thread monitor_;
};

}  // namespace
}  // namespace wardex::demo

WARDEX_EXPORT wardex::IModule* CreateInstanceOfModule() { return new wardex::demo::WardexModule; }

WARDEX_EXPORT void WARDEX_STDCALL DestroyInstanceOfModule(wardex::IModule* instance) {
  delete static_cast<wardex::demo::WardexModule*>(instance);
}
