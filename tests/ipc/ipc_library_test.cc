// The IPC library end to end over the platform's transport: replies, limits,
// refusals, time-outs and load.
#include <algorithm>
#include <chrono>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "crashlog/log_test_util.h"
#include "ipc/ipc_channel.h"
#include "ipc/ipc_test_fixture.h"
#include "osal/wide_format.h"
#include "support/wait.h"

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
    // With its terminator; a reply that does not fit is said with a size of 0.
    if (*reply_size >= bytes) std::copy(answer.c_str(), answer.c_str() + answer.size() + 1, reply);
    *reply_size = *reply_size >= bytes ? bytes : 0;
  }
  --g_running;
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
  // The reply's text without its terminator.
  const bool text = result == kIpcOk && size >= 2;
  return {result, text ? KaOSAL::ToUtf8(reply.data(), size / 2 - 1) : "", size};
}

void IpcLibraryTest::SetUp() {
  g_calls = 0;
  g_delay_ms = 0;
  g_hold = false;
  root_.Set("WARDEX_LOG_FILE", log_path());
  server_ = CreateServerInstance();
  ASSERT_EQ(server_->StartListening(ServerChannel(), EchoCallback, 0), kIpcOk);
}

RawClient::RawClient(const char16_t* channel) {
  int32_t result = kIpcOk;
  connection_ = ipc::ConnectToServer(channel, ipc::Clock::now() + std::chrono::seconds(5), result);
}

bool RawClient::Send(std::string_view bytes) {
  return connected() &&
         connection_->Write(bytes.data(), bytes.size(),
                            ipc::Clock::now() + std::chrono::seconds(5)) == ipc::IoStatus::kOk;
}

std::optional<std::string> RawClient::ReceiveUntilClosed() {
  const auto deadline = ipc::Clock::now() + std::chrono::seconds(5);
  std::string received;
  for (char byte = 0;;) {
    switch (connection_->Read(&byte, 1, deadline)) {
      case ipc::IoStatus::kOk:
        received += byte;
        break;
      case ipc::IoStatus::kTimeout:
        return std::nullopt;
      default:  // closed; a reset too, when the server left our frame unread
        return received;
    }
  }
}

namespace {

using namespace std::chrono_literals;

// Each exchange in order: a failure leaves the next one alone.
TEST_F(IpcLibraryTest, RepliesRefusalsAndLimits) {
  const char16_t* const server = ServerChannel();
  // "echo:", the text and the terminator: 1 MiB of UTF-16.
  const std::string largest((1u << 19) - 6, 'c');
  const std::tuple<std::string, const char16_t*, uint32_t, const char16_t*, Exchange> cases[] = {
      {"hello", server, 4096, u"", {kIpcOk, "echo:hello", 22}},
      {"empty", server, 4096, u"", {kIpcOk, "", 2}},
      {"silent", server, 4096, u"", {kIpcNoReply, "", 0}},
      {"", server, 4096, u"", {kIpcOk, "echo:", 12}},
      {"throw", server, 4096, u"", {kIpcIoError, "", 0}},
      {"after a throw", server, 4096, u"", {kIpcOk, "echo:after a throw", 38}},
      {"x", u"nobody listens", 4096, u"", {kIpcNoServer, "", 0}},
      {"x", server, 4096, u"192.0.2.1", {kIpcRefused, "", 0}},
      {"x", server, 4096, u"localhost", {kIpcOk, "echo:x", 14}},
      {"x", server, 4096, u"::1", {kIpcOk, "echo:x", 14}},
      {"hello", server, 21, u"", {kIpcReplyTooSmall, "", 22}},  // the size it needs
      {std::string((1u << 20) + 1, 'a'), server, 2u << 20, u"", {kIpcTooLarge, "", 0}},
      // The largest request arrives (its echo would not fit a reply, which
      // the callback says with a size of 0), and so does the largest reply.
      {std::string(1u << 20, 'b'), server, 2u << 20, u"", {kIpcOk, "", 0}},
      {largest, server, 2u << 20, u"", {kIpcOk, "echo:" + largest, 1u << 20}},
  };
  int row = 0;
  for (const auto& [message, channel, capacity, address, expected] : cases) {
    const Exchange got = Send(message, 10000, channel, capacity, address);
    EXPECT_EQ(got.tied(), expected.tied()) << "row " << row++;
  }
  // The wire as another program sees it: a request frame of length and
  // bytes, and one reply frame of status, length and text.
  RawClient raw;
  ASSERT_TRUE(raw.Send(std::string("\x03\0\0\0raw", 7)));
  EXPECT_EQ(raw.ReceiveUntilClosed(),
            std::string("\x01\x12\0\0\0e\0c\0h\0o\0:\0r\0a\0w\0\0\0", 23));
}

// A server that cannot listen says why in the log, each reason in its own words.
TEST_F(IpcLibraryTest, SecondServerOnTheChannelFailsUntilTheFirstStops) {
  const std::u16string channel = ServerChannel();
  IIpcServer* second = CreateServerInstance();
  EXPECT_EQ(second->StartListening(ServerChannel(), EchoCallback, 0), kIpcChannelInUse);
  EXPECT_EQ(Send("still first").reply, "echo:still first");
  const std::u16string long_name(300, u'c');
  IIpcServer* too_long = CreateServerInstance();
  EXPECT_EQ(too_long->StartListening(long_name.c_str(), EchoCallback, 0), kIpcInvalidArgument);
  DestroyServerInstance(too_long);
  for (const std::string& line :
       {"IPC: channel \"" + std::string(channel.begin(), channel.end()) +
            "\" is in use by another server",
        "IPC: channel \"" + std::string(300, 'c') +
            "\": " + ipc::ChannelPathErrorText(ipc::ChannelPathError::kNameTooLong)}) {
    EXPECT_NE(ReadFile(log_path()).find(line), std::string::npos) << line;
  }
  DestroyServerInstance(server_);
  server_ = nullptr;
  EXPECT_EQ(Send("x").result, kIpcNoServer);
  EXPECT_EQ(second->StartListening(ServerChannel(), EchoCallback, 0), kIpcOk);
  EXPECT_EQ(Send("again").reply, "echo:again");
  DestroyServerInstance(second);
}

TEST_F(IpcLibraryTest, OversizedAndHalfFramesAreDroppedWithoutHoldingUpOthers) {
  // Announces 2 MiB: refused before any allocation, connection closed.
  RawClient oversized;
  ASSERT_TRUE(oversized.Send(std::string("\x00\x00\x20\x00", 4)));
  EXPECT_EQ(oversized.ReceiveUntilClosed(), "");

  // Silent clients, more than the server has workers, and a half-sent frame
  // while others are served.
  std::vector<RawClient> silent;
  for (int i = 0; i < 40; ++i) silent.emplace_back();
  RawClient half;
  ASSERT_TRUE(half.Send(std::string("\x0a\0\0\0ab", 6)));
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 20; ++i) EXPECT_EQ(Send("busy " + std::to_string(i)).result, kIpcOk);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  silent.clear();
  { RawClient closing = std::move(half); }
  EXPECT_EQ(g_calls.load(), 20);

  // A frame cut off inside its length.
  { RawClient(ServerChannel()).Send(std::string("\x0a\0", 2)); }

  // Each malformed frame is logged once (in any order); the silent clients are not.
  std::vector<std::string> logged;
  test::WaitFor([&] {
    logged.clear();
    for (const std::string& line : ReadLines(log_path())) {
      if (const auto parsed = ParseLogLine(line)) logged.push_back(parsed->text);
    }
    std::ranges::sort(logged);
    return logged.size() >= 3;
  });
  EXPECT_EQ(logged,
            (std::vector<std::string>{"IPC: incomplete frame header dropped",
                                      "IPC: incomplete frame of 10 bytes dropped",
                                      "IPC: refused a frame of 2097152 bytes (limit 1048576)"}));
}

// Every connection slot is held by a silent client: a new client waits and
// is not served; once their time to send has passed, the server accepts again.
TEST_F(IpcLibraryTest, IdleClientsHoldTheSlotsOnlyUntilTheirTimeToSendEnds) {
  std::vector<RawClient> idle;
  for (int i = 0; i < 128; ++i) {
    idle.emplace_back();
    ASSERT_TRUE(idle.back().connected()) << i;
  }
  const auto held_since = std::chrono::steady_clock::now();
  EXPECT_EQ(Send("crowded out", 500).result, kIpcTimeout);
  // The server's 5 s for a request to arrive, and a margin.
  std::this_thread::sleep_until(held_since + 6500ms);
  EXPECT_EQ(Send("after", 3000).reply, "echo:after");
  EXPECT_EQ(g_calls.load(), 1);
}

// The client ends its wait at its time-out though the server has not
// answered, and the server does not run the request it left.
TEST_F(IpcLibraryTest, AClientGivesUpAtItsTimeOutAndItsRequestIsNotRun) {
  // Every one of the server's 32 workers is held in a callback.
  g_hold = true;
  std::vector<std::thread> busy;
  for (int i = 0; i < 32; ++i) busy.emplace_back([] { Send("busy", 60000); });
  const bool all_busy = test::WaitFor([] { return g_running.load() == 32; }, 30s, 1ms);
  const auto start = std::chrono::steady_clock::now();
  const int32_t gave_up = Send("gave up", 100).result;
  const auto waited = std::chrono::steady_clock::now() - start;
  g_hold = false;
  for (std::thread& thread : busy) thread.join();
  ASSERT_TRUE(all_busy);
  EXPECT_EQ(gave_up, kIpcTimeout);
  EXPECT_LT(waited, 800ms);
  EXPECT_EQ(Send("after").reply, "echo:after");
  EXPECT_EQ(g_calls.load(), 33);
}

TEST_F(IpcLibraryTest, StopWaitsForRunningCallbacks) {
  g_delay_ms = 300;
  std::thread client([] { Send("last", 3000); });
  while (g_running.load() == 0) std::this_thread::sleep_for(1ms);
  DestroyServerInstance(server_);
  server_ = nullptr;
  EXPECT_EQ(g_running.load(), 0);
  client.join();
}

TEST_F(IpcLibraryTest, ManyClientsAtOnceGetTheirOwnReplies) {
  const int clients = 16;
  const int messages = Scaled(5000, 300);
  std::atomic<int> mismatches{0};
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&, c] {
      for (int i = 0; i < messages; ++i) {
        const std::string message = std::to_string(c) + "/" + std::to_string(i);
        const Exchange got = Send(message, 10000);
        failures += got.result != kIpcOk;
        mismatches += got.result == kIpcOk && got.reply != "echo:" + message;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_EQ(g_calls.load(), clients * messages);
}

}  // namespace
}  // namespace wardex::test
