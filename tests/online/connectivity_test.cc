// The Internet check against a NetworkManager of the test's own on a private
// bus (given as the system bus), and the routing table of this program's
// private network namespace.
#include "platform/connectivity.h"

#include <gtest/gtest.h>
#include <systemd/sd-bus.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "osal/last_error.h"
#include "platform/internet_errors.h"
#include "support/session_bus.h"

namespace wardex {
namespace {

using platform::InternetState;

// Owns org.freedesktop.NetworkManager on a bus and answers its Connectivity.
class FakeNetworkManager {
 public:
  explicit FakeNetworkManager(const std::string& address) {
    ok_ = sd_bus_new(&bus_) >= 0 && sd_bus_set_address(bus_, address.c_str()) >= 0 &&
          sd_bus_set_bus_client(bus_, 1) >= 0 && sd_bus_start(bus_) >= 0 &&
          sd_bus_add_object_vtable(bus_, nullptr, "/org/freedesktop/NetworkManager",
                                   "org.freedesktop.NetworkManager", kVtable, this) >= 0 &&
          sd_bus_request_name(bus_, "org.freedesktop.NetworkManager", 0) >= 0;
    thread_ = std::thread([this] {
      while (!stop_) {
        if (sd_bus_process(bus_, nullptr) == 0) sd_bus_wait(bus_, 50000);
      }
    });
  }
  ~FakeNetworkManager() {
    stop_ = true;
    thread_.join();
    sd_bus_flush_close_unref(bus_);
  }
  bool ok() const { return ok_; }
  std::atomic<uint32_t> connectivity{4};

 private:
  static int Get(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* self,
                 sd_bus_error*) {
    return sd_bus_message_append(reply, "u",
                                 static_cast<FakeNetworkManager*>(self)->connectivity.load());
  }
  static constexpr sd_bus_vtable kVtable[] = {
      SD_BUS_VTABLE_START(0),
      SD_BUS_PROPERTY("Connectivity", "u", Get, 0, 0),
      SD_BUS_VTABLE_END,
  };

  sd_bus* bus_ = nullptr;
  bool ok_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

class ConnectivityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!bus_.ok()) GTEST_SKIP() << bus_.error();
    setenv("DBUS_SYSTEM_BUS_ADDRESS", bus_.address().c_str(), 1);
  }
  void TearDown() override {
    unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    ASSERT_EQ(std::system("ip route replace default dev lo"), 0);
  }
  test::PrivateSessionBus bus_;
};

// Without NetworkManager (as in the HTTP client's tests) the route decides
// too, as it does where NetworkManager does not know.
TEST_F(ConnectivityTest, NetworkManagerDecidesWhereItKnows) {
  FakeNetworkManager manager(bus_.address());
  ASSERT_TRUE(manager.ok());
  const char* kRoute = "ip route replace default dev lo";
  const char* kNoRoute = "ip route del default dev lo 2>/dev/null; true";
  const char* kRejectRoute =
      "ip route del default dev lo 2>/dev/null; ip -6 route add unreachable default dev lo; true";
  // NetworkManager's Connectivity, the routes, the state.
  const std::tuple<uint32_t, const char*, InternetState> kCases[] = {
      {4, kRoute, InternetState::kConnected},          {4, kNoRoute, InternetState::kConnected},
      {3, kRoute, InternetState::kNotConnected},       {2, kRoute, InternetState::kNotConnected},
      {1, kRoute, InternetState::kNotConnected},       {0, kRoute, InternetState::kConnected},
      {0, kNoRoute, InternetState::kNotConnected},     {7, kRoute, InternetState::kNotConnected},
      {0, kRejectRoute, InternetState::kNotConnected},
  };
  for (const auto& [connectivity, routes, expected] : kCases) {
    SCOPED_TRACE(testing::Message() << connectivity << " " << routes);
    manager.connectivity = connectivity;
    ASSERT_EQ(std::system(routes), 0);
    KaOSAL::SetLastError(0);
    EXPECT_EQ(platform::GetInternetState(), expected);
    EXPECT_EQ(KaOSAL::GetLastError(),
              expected == InternetState::kConnected ? 0u : platform::kInternetDisconnected);
  }
}

}  // namespace
}  // namespace wardex
