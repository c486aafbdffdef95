// The IPC library end to end over real sockets: replies, limits, refusals,
// time-outs and load.
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "support/test_env.h"
#include "wardex/ipc.h"

WARDEX_EXPORT wardex::IIpcClient* CreateClientInstance();
WARDEX_EXPORT wardex::IIpcServer* CreateServerInstance();
WARDEX_EXPORT void DestroyClientInstance(wardex::IIpcClient* client);
WARDEX_EXPORT void DestroyServerInstance(wardex::IIpcServer* server);

namespace wardex {
namespace {

using namespace std::chrono_literals;

std::atomic<int> g_calls{0};
std::atomic<int> g_running{0};
std::atomic<int> g_delay_ms{0};
std::atomic<bool> g_hold{false};  // callbacks wait while it is set

// Answers "echo:<message>" as UTF-16 with its terminator, "" for "empty", and
// leaves the reply size untouched for "silent", as a stopping agent does.
void EchoCallback(const char* message, uint32_t length, char16_t* reply, uint32_t* reply_size,
                  uintptr_t /*context*/) {
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

struct Exchange {
  int32_t result;
  std::string reply;
  uint32_t reply_size;
};

class IpcLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_calls = 0;
    g_delay_ms = 0;
    g_hold = false;
    server_ = CreateServerInstance();
    ASSERT_EQ(server_->StartListening(u"test channel", EchoCallback, 0), kIpcOk);
  }
  void TearDown() override {
    if (server_ != nullptr) DestroyServerInstance(server_);
  }

  static Exchange Send(const std::string& message, uint32_t timeout_ms = 3000,
                       const char16_t* channel = u"test channel", uint32_t capacity = 4096,
                       const char16_t* address = u"") {
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

  // Connects a raw socket to the test channel.
  static int RawConnect() {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = SocketPath();
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    return fd;
  }

  static std::string SocketPath() {
    return std::string(getenv("XDG_RUNTIME_DIR")) + "/wardex/ipc/test%20channel";
  }

  test::ScopedTestRoot root_{/*with_runtime_dir=*/true};
  IIpcServer* server_ = nullptr;
};

TEST_F(IpcLibraryTest, RepliesAndTellsNoReplyFromAnEmptyReply) {
  struct Case {
    std::string message;
    int32_t result;
    std::string reply;
    uint32_t reply_size;
  };
  const Case cases[] = {
      {"hello", kIpcOk, "echo:hello", 22},
      {"empty", kIpcOk, "", 2},
      {"silent", kIpcNoReply, "", 0},
      {"", kIpcOk, "echo:", 12},
  };
  for (const Case& c : cases) {
    const Exchange got = Send(c.message);
    EXPECT_EQ(got.result, c.result) << c.message;
    EXPECT_EQ(got.reply, c.reply) << c.message;
    EXPECT_EQ(got.reply_size, c.reply_size) << c.message;
  }
}

TEST_F(IpcLibraryTest, SocketIsPrivateToTheUser) {
  struct stat info {};
  ASSERT_EQ(stat(SocketPath().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  const std::string folder = std::string(getenv("XDG_RUNTIME_DIR")) + "/wardex/ipc";
  ASSERT_EQ(stat(folder.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST_F(IpcLibraryTest, ClientOutcomes) {
  EXPECT_EQ(Send("x", 3000, u"nobody listens").result, kIpcNoServer);
  EXPECT_EQ(Send("x", 3000, u"test channel", 4096, u"192.0.2.1").result, kIpcRefused);
  EXPECT_EQ(Send("x", 3000, u"test channel", 4096, u"localhost").result, kIpcOk);
  EXPECT_EQ(Send("x", 3000, u"test channel", 4096, u"::1").result, kIpcOk);
  // "echo:hello" and its terminator need 22 bytes.
  const Exchange small = Send("hello", 3000, u"test channel", 21);
  EXPECT_EQ(small.result, kIpcReplyTooSmall);
  EXPECT_EQ(small.reply_size, 22u);
  EXPECT_EQ(Send(std::string((1u << 20) + 1, 'a')).result, kIpcTooLarge);
}

TEST_F(IpcLibraryTest, ClientHonoursItsTimeOut) {
  g_delay_ms = 1000;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Send("slow", 100).result, kIpcTimeout);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 800ms);
}

TEST_F(IpcLibraryTest, SecondServerOnTheChannelFailsAndStaleSocketIsReplaced) {
  IIpcServer* second = CreateServerInstance();
  EXPECT_EQ(second->StartListening(u"test channel", EchoCallback, 0), kIpcChannelInUse);
  EXPECT_EQ(Send("still first").reply, "echo:still first");

  // A socket file whose server died holds no lock: the next server takes over.
  DestroyServerInstance(server_);
  server_ = nullptr;
  int stale = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, SocketPath().c_str());
  ASSERT_EQ(bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  close(stale);
  EXPECT_EQ(Send("x").result, kIpcNoServer);
  EXPECT_EQ(second->StartListening(u"test channel", EchoCallback, 0), kIpcOk);
  EXPECT_EQ(Send("again").reply, "echo:again");
  DestroyServerInstance(second);
}

// A server that cannot listen says why in the log, each reason in its own words.
TEST_F(IpcLibraryTest, RefusedChannelsAreLoggedWithTheirReason) {
  const std::string log = root_.path() + "/ipc.log";
  setenv("WARDEX_LOG_FILE", log.c_str(), 1);
  const std::string lock = std::string(getenv("XDG_RUNTIME_DIR")) + "/wardex/ipc/linked%lock";
  ASSERT_EQ(symlink((root_.path() + "/elsewhere").c_str(), lock.c_str()), 0);
  const std::u16string long_name(120, u'c');
  struct Case {
    const char16_t* channel;
    int32_t result;
    std::string line;
  } const cases[] = {
      {u"linked", kIpcIoError,
       "IPC: the lock file " + lock + " is a link, which is never followed"},
      {u"test channel", kIpcChannelInUse,
       "IPC: channel \"test channel\" is in use by another server"},
      {long_name.c_str(), kIpcInvalidArgument,
       "IPC: channel \"" + std::string(120, 'c') +
           "\": the channel name is too long for a socket path"},
  };
  for (const Case& c : cases) {
    IIpcServer* server = CreateServerInstance();
    EXPECT_EQ(server->StartListening(c.channel, EchoCallback, 0), c.result) << c.line;
    DestroyServerInstance(server);
    EXPECT_NE(test::ReadFile(log).find(c.line), std::string::npos) << c.line;
  }
  EXPECT_FALSE(std::filesystem::exists(root_.path() + "/elsewhere"));
  unsetenv("WARDEX_LOG_FILE");
}

TEST_F(IpcLibraryTest, ServerOnAChannelNamedLikeALockFileLeavesTheLiveChannelAlone) {
  // Its socket file name is "<first channel's file name>.lock".
  IIpcServer* neighbour = CreateServerInstance();
  ASSERT_EQ(neighbour->StartListening(u"test channel.lock", EchoCallback, 0), kIpcOk);
  DestroyServerInstance(neighbour);

  IIpcServer* second = CreateServerInstance();
  EXPECT_EQ(second->StartListening(u"test channel", EchoCallback, 0), kIpcChannelInUse);
  DestroyServerInstance(second);
  EXPECT_EQ(Send("still first").reply, "echo:still first");
}

double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

TEST_F(IpcLibraryTest, ClientWaitingWhileDescriptorsRunOutIsServedWithoutSpinning) {
  const int client = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(client, 0);
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit low = saved;
  low.rlim_cur = std::min<rlim_t>(saved.rlim_cur, 256);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  std::vector<int> fillers;
  for (int fd; (fd = dup(client)) >= 0;) fillers.push_back(fd);

  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, SocketPath().c_str());
  const int connected = connect(client, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  const double cpu_before = ProcessCpuSeconds();
  std::this_thread::sleep_for(500ms);
  const double cpu_used = ProcessCpuSeconds() - cpu_before;

  for (int fd : fillers) close(fd);
  setrlimit(RLIMIT_NOFILE, &saved);
  ASSERT_EQ(connected, 0);
  EXPECT_FALSE(fillers.empty());
  // Pausing between attempts costs well under a millisecond here; a server
  // that retries accept at once burns the whole half second it can get.
  EXPECT_LT(cpu_used, 0.05);
  const timeval patience{5, 0};
  setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof(patience));

  // Once descriptors are free the waiting client is served.
  const uint8_t frame[8] = {4, 0, 0, 0, 'l', 'a', 't', 'e'};
  ASSERT_EQ(write(client, frame, sizeof(frame)), 8);
  uint8_t answer[5 + 20] = {};
  size_t got = 0;
  for (ssize_t n;
       got < sizeof(answer) && (n = read(client, answer + got, sizeof(answer) - got)) > 0;) {
    got += static_cast<size_t>(n);
  }
  close(client);
  ASSERT_EQ(got, sizeof(answer));
  EXPECT_EQ(answer[0], 1);  // a reply follows
  EXPECT_EQ(answer[1], 20);
  char16_t reply[10];
  std::memcpy(reply, answer + 5, sizeof(reply));
  EXPECT_EQ(Narrow(reply, sizeof(reply)), "echo:late");
}

TEST_F(IpcLibraryTest, OversizedAndHalfFramesAreDroppedWithoutHoldingUpOthers) {
  // Announces 2 MiB: refused before any allocation, connection closed.
  const int oversized = RawConnect();
  const uint8_t huge[4] = {0x00, 0x00, 0x20, 0x00};
  ASSERT_EQ(write(oversized, huge, sizeof(huge)), 4);
  char byte;
  EXPECT_EQ(read(oversized, &byte, 1), 0);
  close(oversized);

  // Silent clients, more than the server has workers, and a half-sent frame
  // while others are served.
  std::vector<int> silent;
  for (int i = 0; i < 40; ++i) silent.push_back(RawConnect());
  const int half = RawConnect();
  const uint8_t partial[6] = {10, 0, 0, 0, 'a', 'b'};
  ASSERT_EQ(write(half, partial, sizeof(partial)), 6);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 20; ++i) EXPECT_EQ(Send("busy " + std::to_string(i)).result, kIpcOk);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  for (int fd : silent) close(fd);
  close(half);
  EXPECT_EQ(g_calls.load(), 20);

  // A frame cut off inside its length.
  const int cut = RawConnect();
  ASSERT_EQ(write(cut, partial, 2), 2);
  close(cut);

  // Each malformed frame is logged by the worker that dropped it; the
  // silent client is not.
  const std::vector<std::string> expected = {
      "IPC: refused a frame of 2097152 bytes (limit 1048576)",
      "IPC: incomplete frame of 10 bytes dropped", "IPC: incomplete frame header dropped"};
  std::string log;
  for (int wait = 0; wait < 200; ++wait) {
    log = test::ReadFile(root_.state_home() + "/wardex/log/wardex.log");
    bool all = true;
    for (const std::string& line : expected) all = all && log.find(line) != std::string::npos;
    if (all) break;
    std::this_thread::sleep_for(10ms);
  }
  for (const std::string& line : expected) EXPECT_NE(log.find(line), std::string::npos) << line;
  size_t lines = 0;
  for (size_t at = log.find("IPC: "); at != std::string::npos; at = log.find("IPC: ", at + 1)) {
    ++lines;
  }
  EXPECT_EQ(lines, expected.size()) << log;
}

TEST_F(IpcLibraryTest, ServerAcceptsAgainAfterEverySlotExpiredAtOnce) {
  // The server runs in a child that is stopped while its 128 idle clients'
  // time-outs pass, so that all of them expire in the same round.
  DestroyServerInstance(server_);
  server_ = nullptr;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    CreateServerInstance()->StartListening(u"test channel", EchoCallback, 0);
    for (;;) pause();
  }
  for (int wait = 0; wait < 100 && Send("ready", 1000).result != kIpcOk; ++wait)
    std::this_thread::sleep_for(50ms);
  std::vector<int> idle;
  for (int i = 0; i < 128; ++i) idle.push_back(RawConnect());
  std::this_thread::sleep_for(500ms);  // all accepted
  kill(child, SIGSTOP);
  std::this_thread::sleep_for(5500ms);  // past the server's 5 s request time-out
  kill(child, SIGCONT);
  const Exchange after = Send("after", 3000);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  for (int fd : idle) close(fd);
  EXPECT_EQ(after.result, kIpcOk);
  EXPECT_EQ(after.reply, "echo:after");
}

TEST_F(IpcLibraryTest, PeerOfAnotherUserIsRefusedBeforeAnythingIsRead) {
  if (!test::RunningAsRoot()) GTEST_SKIP() << "needs root to act as another user";
  // Open the private folders so that only the peer check stands in the way.
  const std::string runtime = getenv("XDG_RUNTIME_DIR");
  for (const std::string& path : {runtime, runtime + "/wardex", runtime + "/wardex/ipc"}) {
    chmod(path.c_str(), 0755);
  }
  chmod(SocketPath().c_str(), 0666);
  const int status = test::RunAsUnprivileged([] {
    const int fd = RawConnect();
    const uint8_t frame[9] = {5, 0, 0, 0, 'h', 'e', 'l', 'l', 'o'};
    (void)!send(fd, frame, sizeof(frame), MSG_NOSIGNAL);
    char byte;
    // The server closes the connection without a reply (a reset, as our
    // frame is left unread).
    const ssize_t got = read(fd, &byte, 1);
    return got == 0 || (got < 0 && errno == ECONNRESET) ? 0 : 10 + static_cast<int>(got);
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(g_calls.load(), 0);
}

TEST_F(IpcLibraryTest, RequestOfAClientThatGaveUpIsNotRun) {
  // Every one of the server's 32 workers is held in a callback.
  g_hold = true;
  std::vector<std::thread> busy;
  for (int i = 0; i < 32; ++i) busy.emplace_back([] { Send("busy", 60000); });
  for (int i = 0; i < 30000 && g_running.load() < 32; ++i) std::this_thread::sleep_for(1ms);
  const bool all_busy = g_running.load() == 32;
  const int32_t gave_up = Send("gave up", 100).result;
  g_hold = false;
  for (std::thread& thread : busy) thread.join();
  ASSERT_TRUE(all_busy);
  EXPECT_EQ(gave_up, kIpcTimeout);
  EXPECT_EQ(Send("after").reply, "echo:after");
  EXPECT_EQ(g_calls.load(), 33);
}

TEST_F(IpcLibraryTest, ThrowingCallbackOrNoWorkerRefusesOnlyThatRequest) {
  EXPECT_EQ(Send("throw").result, kIpcIoError);
  EXPECT_EQ(Send("after a throw").reply, "echo:after a throw");
  if (!test::RunningAsRoot()) GTEST_SKIP() << "needs root to act as a user bound by RLIMIT_NPROC";
  // The child makes threads: it must be forked from a process with one thread.
  DestroyServerInstance(server_);
  server_ = nullptr;
  const int status = test::RunAsUnprivileged([] {
    char folder[] = "/tmp/wardex-nproc-XXXXXX";
    if (mkdtemp(folder) == nullptr || setenv("XDG_RUNTIME_DIR", folder, 1) != 0) return 20;
    IIpcServer* server = CreateServerInstance();
    if (server->StartListening(u"test channel", EchoCallback, 0) != kIpcOk) return 21;
    rlimit saved{};
    getrlimit(RLIMIT_NPROC, &saved);
    rlimit none = saved;
    none.rlim_cur = 0;
    setrlimit(RLIMIT_NPROC, &none);
    const int32_t without_thread = Send("no thread").result;
    setrlimit(RLIMIT_NPROC, &saved);
    const std::string reply = Send("thread").reply;
    DestroyServerInstance(server);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    if (without_thread != kIpcIoError) return 30 + without_thread;
    return reply == "echo:thread" ? 0 : 40;
  });
  EXPECT_EQ(status, 0);
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
  const int messages = test::Scaled(5000, 300);
  std::atomic<int> mismatches{0};
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&, c] {
      IIpcClient* client = CreateClientInstance();
      client->SetChannel(u"test channel");
      std::vector<char16_t> reply(512);
      for (int i = 0; i < messages; ++i) {
        const std::string message = std::to_string(c) + "/" + std::to_string(i);
        uint32_t size = 1024;
        if (client->SendMessage(u"", message.data(), static_cast<uint32_t>(message.size()),
                                reply.data(), &size, 10000) != kIpcOk) {
          ++failures;
        } else if (Narrow(reply.data(), size) != "echo:" + message) {
          ++mismatches;
        }
      }
      DestroyClientInstance(client);
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_EQ(g_calls.load(), clients * messages);
}

}  // namespace
}  // namespace wardex
