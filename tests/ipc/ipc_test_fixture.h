// What the IPC library's tests share: a server on the test channel whose
// callback echoes, a client call, and a client that speaks raw bytes.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

#include "gtest/gtest.h"
#include "ipc/ipc_connection.h"
#include "support/test_env.h"
#include "wardex/ipc.h"

// The library's entry points, linked directly.
extern "C" wardex::IIpcClient* CreateClientInstance();
extern "C" wardex::IIpcServer* CreateServerInstance();
extern "C" void WARDEX_STDCALL DestroyClientInstance(wardex::IIpcClient* client);
extern "C" void WARDEX_STDCALL DestroyServerInstance(wardex::IIpcServer* server);

namespace wardex::test {

// "<name>.<number>", the number this process's own: Windows has one
// namespace of pipes for the whole machine, where tests run side by side.
std::u16string TestChannel(std::u16string_view name = u"test channel");
// The test server's channel, TestChannel() kept.
const char16_t* ServerChannel();

// What EchoCallback saw and does.
extern std::atomic<int> g_calls;
extern std::atomic<int> g_running;
extern std::atomic<int> g_delay_ms;
extern std::atomic<bool> g_hold;  // callbacks wait while it is set

// Answers "echo:<message>" as UTF-16 with its terminator, "" for "empty", and
// leaves the reply size untouched for "silent", as a stopping agent does;
// "throw" throws.
void WARDEX_STDCALL EchoCallback(const char* message, uint32_t length, char16_t* reply,
                                 uint32_t* reply_size, uintptr_t context);

struct Exchange {
  int32_t result;
  std::string reply;
  uint32_t reply_size;
  auto tied() const { return std::tie(result, reply, reply_size); }
};

// One message through a client of its own.
Exchange Send(const std::string& message, uint32_t timeout_ms = 3000,
              const char16_t* channel = ServerChannel(), uint32_t capacity = 4096,
              const char16_t* address = u"");

// A server on ServerChannel() answering with EchoCallback, and the log in a
// file of the test's own.
class IpcLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override {
    if (server_ != nullptr) DestroyServerInstance(server_);
  }
  std::string log_path() const { return root_.path() + "/ipc.log"; }

  ScopedTestRoot root_{/*with_runtime_dir=*/true};
  IIpcServer* server_ = nullptr;
};

// A client of a channel's endpoint that speaks bytes, not frames, over the
// library's own connection: for clients that send too much, too little or
// nothing.
class RawClient {
 public:
  explicit RawClient(const char16_t* channel = ServerChannel());
  explicit RawClient(std::unique_ptr<ipc::Connection> connected)
      : connection_(std::move(connected)) {}

  [[nodiscard]] bool connected() const { return connection_ != nullptr; }
  // Sends |bytes|; a pipe carries them as one message.
  bool Send(std::string_view bytes);
  // What the server sends until it ends the connection; nothing when it
  // has not ended it within 5 s.
  std::optional<std::string> ReceiveUntilClosed();

 private:
  std::unique_ptr<ipc::Connection> connection_;
};

}  // namespace wardex::test
