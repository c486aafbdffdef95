// What the user's service manager is told when a user's timer is written or
// removed: a stand-in manager on a private bus records every call.
#include <gtest/gtest.h>
#include <systemd/sd-bus.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "modules/module_test_env.h"
#include "platform/scheduled_task_files.h"
#include "support/session_bus.h"

namespace wardex::test {
namespace {

// Owns org.freedesktop.systemd1 on the bus at |address|, answers every call
// to the manager's object and records it as "Method" or "Method unit".
class StandInUserManager {
 public:
  explicit StandInUserManager(const std::string& address) {
    if (sd_bus_new(&bus_) < 0 || sd_bus_set_address(bus_, address.c_str()) < 0 ||
        sd_bus_set_bus_client(bus_, 1) < 0 || sd_bus_start(bus_) < 0 ||
        sd_bus_request_name(bus_, "org.freedesktop.systemd1", 0) < 0 ||
        sd_bus_add_object(bus_, nullptr, "/org/freedesktop/systemd1", OnCall, this) < 0) {
      return;
    }
    ready_ = true;
    thread_ = std::thread([this] {
      while (!stop_) {
        if (sd_bus_process(bus_, nullptr) > 0) continue;
        sd_bus_wait(bus_, 50'000);
      }
    });
  }
  ~StandInUserManager() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    sd_bus_flush_close_unref(bus_);
  }

  bool ready() const { return ready_; }
  std::vector<std::string> TakeCalls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::move(calls_);
  }

 private:
  static int OnCall(sd_bus_message* message, void* self, sd_bus_error*) {
    auto* manager = static_cast<StandInUserManager*>(self);
    std::string call = sd_bus_message_get_member(message);
    const char* unit = nullptr;
    const char* mode = nullptr;
    if (sd_bus_message_read(message, "ss", &unit, &mode) >= 0) call += std::string(" ") + unit;
    {
      std::lock_guard<std::mutex> lock(manager->mutex_);
      manager->calls_.push_back(call);
    }
    return call == "Reload" ? sd_bus_reply_method_return(message, "")
                            : sd_bus_reply_method_return(message, "o", "/job/1");
  }

  sd_bus* bus_ = nullptr;
  bool ready_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> calls_;
};

TEST(UserManagerTest, AUsersTimerIsStartedOnWriteAndStoppedOnRemoval) {
  ModuleTestEnv env;
  PrivateSessionBus bus;
  ASSERT_TRUE(bus.ok()) << bus.error();
  bus.ExportToEnvironment();
  StandInUserManager manager(bus.address());
  ASSERT_TRUE(manager.ready());
  platform::TaskDefinition timer;
  timer.program = u"/bin/true";
  timer.trigger.kind = platform::TaskTrigger::Kind::kDaily;
  timer.trigger.begin = {2026, 12, 5};
  platform::TaskDefinition disabled = timer;
  disabled.disabled = true;
  platform::TaskDefinition at_logon;
  at_logon.program = u"/bin/true";
  const auto write = [](const platform::TaskDefinition& definition) {
    return [definition] {
      return platform::WriteTaskFiles(u"nightly", definition, platform::TaskScope::kUser);
    };
  };
  const auto remove = [] {
    return platform::RemoveTaskFiles(u"nightly", platform::TaskScope::kUser);
  };
  struct Step {
    const char* what;
    std::function<uint32_t()> act;
    std::vector<std::string> calls;
  };
  const Step steps[] = {
      {"an enabled timer is loaded and started",
       write(timer),
       {"Reload", "StartUnit nightly.timer"}},
      {"removed, it is stopped first", remove, {"StopUnit nightly.timer", "Reload"}},
      {"a disabled timer is only loaded", write(disabled), {"Reload"}},
      {"removed too", remove, {"StopUnit nightly.timer", "Reload"}},
      {"an autostart entry needs no manager", write(at_logon), {}},
      {"nor does its removal", remove, {}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    EXPECT_EQ(step.act(), 0u);
    EXPECT_EQ(manager.TakeCalls(), step.calls);
  }
}

}  // namespace
}  // namespace wardex::test
