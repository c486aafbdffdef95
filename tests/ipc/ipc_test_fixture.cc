#include "ipc/ipc_test_fixture.h"

#include <chrono>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

namespace wardex::test {

std::u16string TestChannel(std::u16string_view name) {
  static const std::string number = std::to_string(std::random_device()());
  return std::u16string(name) + u"." + std::u16string(number.begin(), number.end());
}

const char16_t* ServerChannel() {
  static const std::u16string channel = TestChannel();
  return channel.c_str();
}

std::atomic<int> g_calls{0};
std::atomic<int> g_running{0};
std::atomic<int> g_delay_ms{0};
std::atomic<bool> g_hold{false};

void WARDEX_STDCALL EchoCallback(const char* message, uint32_t length, char16_t* reply,
                                 uint32_t* reply_size, uintptr_t /*context*/) {
  ++g_calls;
  if (std::string_view(message, length) == "throw") throw std::runtime_error("callback failed");
  ++g_running;
  if (g_delay_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(g_delay_ms.load()));
  while (g_hold.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const std::string text(message, length);
  if (text != "silent") {
    const std::string answer = text == "empty" ? "" : "echo:" + text;
    const uint32_t bytes = static_cast<uint32_t>((answer.size() + 1) * 2);
    if (*reply_size >= bytes) {
      for (size_t i = 0; i < answer.size(); ++i) reply[i] = static_cast<char16_t>(answer[i]);
      reply[answer.size()] = 0;
      *reply_size = bytes;
    } else {
      *reply_size = 0;
    }
  }
  --g_running;
}

std::string Narrow(const char16_t* text, uint32_t bytes) {
  std::string out;
  for (uint32_t i = 0; i + 1 < bytes / 2; ++i) out += static_cast<char>(text[i]);
  return out;
}

Exchange Send(const std::string& message, uint32_t timeout_ms, const char16_t* channel,
              uint32_t capacity, const char16_t* address) {
  IIpcClient* client = CreateClientInstance();
  client->SetChannel(channel);
  std::vector<char16_t> reply(capacity / 2 + 1);
  uint32_t size = capacity;
  const int32_t result =
      client->SendMessage(address, message.data(), static_cast<uint32_t>(message.size()),
                          reply.data(), &size, timeout_ms);
  DestroyClientInstance(client);
  return {result, result == kIpcOk ? Narrow(reply.data(), size) : "", size};
}

void IpcLibraryTest::SetUp() {
  g_calls = 0;
  g_delay_ms = 0;
  g_hold = false;
  SetEnv("WARDEX_LOG_FILE", log_path());
  server_ = CreateServerInstance();
  ASSERT_EQ(server_->StartListening(ServerChannel(), EchoCallback, 0), kIpcOk);
}

void IpcLibraryTest::TearDown() {
  if (server_ != nullptr) DestroyServerInstance(server_);
  UnsetEnv("WARDEX_LOG_FILE");
}

std::string IpcLibraryTest::WaitForLog(const std::vector<std::string>& lines) const {
  std::string log;
  for (int wait = 0; wait < 200; ++wait) {
    log = ReadFile(log_path());
    bool all = true;
    for (const std::string& line : lines) all = all && log.find(line) != std::string::npos;
    if (all) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return log;
}

}  // namespace wardex::test
