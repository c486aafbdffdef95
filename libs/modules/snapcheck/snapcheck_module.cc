// SnapCheckModule.so: the quick check ("Snap-Check"). Its task counts the
// files in the user's temporary folder; its quick-check control's window is a
// view that the Console shows inside itself, and that view is also an
// IConsoleView, so the agent's conversion of the window succeeds. The view
// describes itself to the Console (IModuleViewModel): what the check found,
// and a button that runs it again. The module
// refuses run requests from the pipe (flag 0x10): the check is started, not run.
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>

#include "../common/demo_module.h"
#include "osal/ka_string.h"
#include "platform/local_time.h"
#include "temp_scan.h"
#include "wardex/console_view.h"
#include "wardex/crashlog.h"
#include "wardex/module.h"
#include "wardex/module_view.h"
#include "wardex/quick_check.h"

namespace wardex::demo {
namespace {

constexpr char kModuleName[] = "SnapCheckModule";
constexpr int32_t kCheckAgainButton = 1;

// "14:09:10", the local time of |when|.
std::string TimeOfDay(time_t when) {
  platform::LocalCalendarTime local{};
  char text[16] = "";
  if (platform::ToLocalCalendarTime(when, &local))
    std::snprintf(text, sizeof(text), "%02d:%02d:%02d", local.hour, local.minute, local.second);
  return text;
}

// The summary line of a scan: "123 files, 4.5 MB in /tmp".
KaOSAL::KaString Summary(const TempScan& scan) {
  if (!scan.ok) return Wide("Could not read " + scan.folder);
  return Wide(std::to_string(scan.files) + (scan.files == 1 ? " file, " : " files, ") +
              FormatBytes(scan.bytes) + " in " + scan.folder +
              (scan.complete ? "" : " (and more)"));
}

// The quick-check view. Headless, "showing" it means running the quick check
// and logging its result; the Console asks for that with Refresh when it
// shows the view.
class QuickCheckView final : public IModuleWindow, public IConsoleView, public IModuleViewModel {
 public:
  WindowHandle GetWindowHandle() override {
    std::lock_guard<std::mutex> hold(lock_);
    return parent_;
  }
  void SetParent(WindowHandle parent) {
    std::lock_guard<std::mutex> hold(lock_);
    parent_ = parent;
  }
  KaOSAL::KaString last_summary() {
    std::lock_guard<std::mutex> hold(lock_);
    return summary_;
  }

  void ShowMessage(KaOSAL::KaString text, KaOSAL::KaString title, int32_t, KaOSAL::KaString,
                   KaOSAL::KaString) override {
    LogW(kLogInfo, u"SnapCheckModule: quick-check view message \"%s\": \"%s\"", title.c_str(),
         text.c_str());
  }
  void ShowMessageDialog(MessageDialog dialog) override {
    // The view shows no dialogs of its own: answer "no button" at once.
    if (dialog.on_complete != nullptr)
      dialog.on_complete(0, kMessageDialogNoButton, &dialog.check_boxes, dialog.context);
  }
  bool ShowNewsfeed(NewsItem) override { return false; }
  void ShowInfo() override {}
  void ShowSettings() override {}
  ModuleViewRegistration ShowModuleView(IConsoleView*, int32_t) override { return {}; }
  void Refresh() override {
    const TempScan scan = ScanFolder(TempFolder());
    const KaOSAL::KaString summary = Summary(scan);
    {
      std::lock_guard<std::mutex> hold(lock_);
      summary_ = summary;
      scan_ = scan;
      checked_at_ = std::time(nullptr);
      ++checks_;
    }
    LogW(kLogInfo, u"SnapCheckModule: quick check: %s", summary.c_str());
  }
  void SetOwnerWindow(WindowHandle owner) override { SetParent(owner); }

  ViewModel DescribeView() override {
    std::lock_guard<std::mutex> hold(lock_);
    ViewModel model;
    model.title = u"Temporary files";
    if (checks_ == 0) {
      model.rows.push_back({u"Status", u"Not checked yet", kNoProgress});
    } else if (!scan_.ok) {
      model.rows.push_back({u"Status", summary_, kNoProgress});
    } else {
      model.rows.push_back({u"Folder", Wide(scan_.folder), kNoProgress});
      model.rows.push_back({u"Files", Wide(std::to_string(scan_.files)), kNoProgress});
      model.rows.push_back({u"Size", Wide(FormatBytes(scan_.bytes)), kNoProgress});
      // How much of the folder the check could look at.
      const int32_t share =
          scan_.complete ? 100 : static_cast<int32_t>(scan_.files * 100 / kMaxScannedEntries);
      model.rows.push_back(
          {u"Checked", scan_.complete ? u"Every entry" : u"Stopped at the entry limit", share});
    }
    if (checks_ > 0) {
      model.rows.push_back(
          {u"Last check", Wide(TimeOfDay(checked_at_) + " (check " + std::to_string(checks_) + ")"),
           kNoProgress});
    }
    model.buttons.push_back({kCheckAgainButton, u"Check again", true});
    return model;
  }
  void OnViewButton(int32_t id) override {
    if (id == kCheckAgainButton) Refresh();
  }

 private:
  std::mutex lock_;
  WindowHandle parent_ = nullptr;
  KaOSAL::KaString summary_;
  TempScan scan_;
  time_t checked_at_ = 0;
  uint64_t checks_ = 0;
};

class QuickCheckControl final : public ISnapCheckControl {
 public:
  bool Create(WindowHandle parent) override {
    view_.SetParent(parent);
    return true;
  }
  IModuleWindow* GetWindow(int32_t) override { return &view_; }

 private:
  QuickCheckView view_;
};

class SnapCheckModule final : public DemoModule<ISnapCheckModule, kModuleName> {
 public:
  ~SnapCheckModule() override { StopTask(1); }

  int32_t GetMenuText(char16_t* buffer, int32_t capacity) override {
    return CopyText(u"Snap-Check", buffer, capacity);
  }
  uint32_t GetFlags() override { return kModuleFlagRunsTasks | kModuleFlagRefusesRunRequest; }
  ISnapCheckControl* GetQuickCheckControl() override { return &control_; }

  // 100 once the scan has finished, 0 while it runs or before the first.
  double GetResultLevel(int32_t) override {
    std::lock_guard<std::mutex> hold(lock_);
    return done_ ? 100.0 : 0.0;
  }
  void GetResultText(char16_t* buffer, int32_t capacity, int32_t) override {
    std::lock_guard<std::mutex> hold(lock_);
    CopyText(text_, buffer, capacity);
  }
  void GetResultDescription(char16_t* buffer, int32_t capacity, int32_t) override {
    std::lock_guard<std::mutex> hold(lock_);
    CopyText(description_, buffer, capacity);
  }

  // Scans in the background; a scan already running is not doubled.
  void StartTask(int32_t, int32_t, int32_t) override {
    std::lock_guard<std::mutex> start(worker_lock_);
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (running_) return;
      running_ = true;
      done_ = false;
      text_ = u"Scanning the temporary folder";
      description_ = KaOSAL::KaString();
    }
    if (worker_.joinable()) worker_.join();
    worker_ = std::thread([this] { Scan(); });
  }

  // The scan stops by itself within kMaxScannedEntries; stopping waits for it.
  void StopTask(int32_t) override {
    std::lock_guard<std::mutex> start(worker_lock_);
    if (worker_.joinable()) worker_.join();
  }

 private:
  void Scan() {
    const TempScan scan = ScanFolder(TempFolder());
    const KaOSAL::KaString summary = Summary(scan);
    LogW(kLogInfo, u"SnapCheckModule: scan done: %s", summary.c_str());
    std::lock_guard<std::mutex> hold(lock_);
    text_ = scan.ok ? u"Temporary files found" : u"Scan failed";
    description_ = summary;
    done_ = true;
    running_ = false;
  }

  QuickCheckControl control_;

  std::mutex lock_;  // guards the task's state
  bool running_ = false;
  bool done_ = false;
  KaOSAL::KaString text_;
  KaOSAL::KaString description_;

  std::mutex worker_lock_;
  std::thread worker_;
};

}  // namespace
}  // namespace wardex::demo

WARDEX_EXPORT wardex::IModule* CreateInstanceOfModule() {
  return new wardex::demo::SnapCheckModule;
}

WARDEX_EXPORT void WARDEX_STDCALL DestroyInstanceOfModule(wardex::IModule* instance) {
  delete static_cast<wardex::demo::SnapCheckModule*>(instance);
}
