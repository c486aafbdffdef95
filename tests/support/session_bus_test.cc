// The private session bus that desktop tests start: clients reach it by its
// address, it goes away on Stop(), and the environment comes back as it was.
#include "support/session_bus.h"

#include <gtest/gtest.h>
#include <systemd/sd-bus.h>

#include <cstdlib>

namespace wardex::test {
namespace {

// A client connection to |address|, or null.
sd_bus* Connect(const std::string& address) {
  sd_bus* bus = nullptr;
  if (sd_bus_new(&bus) < 0) return nullptr;
  if (sd_bus_set_address(bus, address.c_str()) < 0 || sd_bus_set_bus_client(bus, 1) < 0 ||
      sd_bus_start(bus) < 0) {
    sd_bus_unref(bus);
    return nullptr;
  }
  return bus;
}

TEST(PrivateSessionBusTest, ServesNamesUntilStopped) {
  PrivateSessionBus bus;
  ASSERT_TRUE(bus.ok()) << bus.error();
  ASSERT_EQ(bus.address().rfind("unix:path=", 0), 0u) << bus.address();

  sd_bus* owner = Connect(bus.address());
  sd_bus* other = Connect(bus.address());
  ASSERT_NE(owner, nullptr);
  ASSERT_NE(other, nullptr);
  ASSERT_GE(sd_bus_request_name(owner, "org.example.Probe", 0), 0);
  const char* unique = nullptr;
  ASSERT_GE(sd_bus_get_unique_name(owner, &unique), 0);
  sd_bus_message* reply = nullptr;
  ASSERT_GE(sd_bus_call_method(other, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                               "org.freedesktop.DBus", "GetNameOwner", nullptr, &reply, "s",
                               "org.example.Probe"),
            0);
  const char* found = nullptr;
  ASSERT_GE(sd_bus_message_read(reply, "s", &found), 0);
  EXPECT_STREQ(found, unique);
  sd_bus_message_unref(reply);

  ASSERT_TRUE(bus.Stop());
  EXPECT_FALSE(bus.ok());
  EXPECT_LT(sd_bus_call_method(other, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                               "org.freedesktop.DBus", "GetId", nullptr, nullptr, ""),
            0);
  sd_bus_unref(owner);
  sd_bus_unref(other);
}

TEST(PrivateSessionBusTest, ExportsItsAddressAndRestoresTheOldOne) {
  setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent", 1);
  std::string address;
  {
    PrivateSessionBus bus;
    ASSERT_TRUE(bus.ok()) << bus.error();
    bus.ExportToEnvironment();
    address = bus.address();
    EXPECT_EQ(std::string(getenv("DBUS_SESSION_BUS_ADDRESS")), address);
    sd_bus* user = nullptr;
    ASSERT_GE(sd_bus_open_user(&user), 0);
    sd_bus_unref(user);
  }
  EXPECT_STREQ(getenv("DBUS_SESSION_BUS_ADDRESS"), "unix:path=/nonexistent");
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

}  // namespace
}  // namespace wardex::test
