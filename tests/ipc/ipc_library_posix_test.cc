// The IPC library on Unix domain sockets: the private socket and its lock
// file, descriptors running out, and peers of other users.
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "ipc/ipc_channel.h"
#include "ipc/ipc_socket_posix.h"
#include "ipc/ipc_test_fixture.h"
#include "support/wait.h"

namespace wardex::test {

namespace {

using namespace std::chrono_literals;

std::string SocketPath() { return ipc::ChannelEndpoint(ServerChannel()); }

// The address of the test server's socket.
sockaddr_un SocketAddress() {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, SocketPath().c_str());
  return address;
}

// How many sockets the process |pid| holds.
int SocketsOf(pid_t pid) {
  int sockets = 0;
  std::error_code error;
  for (const auto& entry :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
    sockets += std::filesystem::read_symlink(entry.path(), error).string().starts_with("socket:");
  }
  return sockets;
}

TEST_F(IpcLibraryTest, SocketIsPrivateToTheUser) {
  const std::u16string channel = ServerChannel();  // "test channel.<number>"
  EXPECT_EQ(SocketPath(), std::string(getenv("XDG_RUNTIME_DIR")) + "/wardex/ipc/test%20channel" +
                              std::string(channel.begin() + 12, channel.end()));
  namespace fs = std::filesystem;
  EXPECT_EQ(fs::status(SocketPath()).permissions(), fs::perms(0600));
  EXPECT_EQ(fs::status(fs::path(SocketPath()).parent_path()).permissions(), fs::perms(0700));
}

TEST_F(IpcLibraryTest, StaleSocketIsReplaced) {
  // A socket file whose server died holds no lock: the next server takes over.
  DestroyServerInstance(server_);
  server_ = nullptr;
  int stale = socket(AF_UNIX, SOCK_STREAM, 0);
  const sockaddr_un address = SocketAddress();
  ASSERT_EQ(bind(stale, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
  close(stale);
  EXPECT_EQ(Send("x").result, kIpcNoServer);
  server_ = CreateServerInstance();
  EXPECT_EQ(server_->StartListening(ServerChannel(), EchoCallback, 0), kIpcOk);
  EXPECT_EQ(Send("again").reply, "echo:again");
}

TEST_F(IpcLibraryTest, LockFileThatIsALinkIsNeverFollowed) {
  const std::string lock = std::string(getenv("XDG_RUNTIME_DIR")) + "/wardex/ipc/linked%lock";
  ASSERT_EQ(symlink((root_.path() + "/elsewhere").c_str(), lock.c_str()), 0);
  IIpcServer* server = CreateServerInstance();
  EXPECT_EQ(server->StartListening(u"linked", EchoCallback, 0), kIpcIoError);
  DestroyServerInstance(server);
  EXPECT_NE(ReadFile(log_path())
                .find("IPC: the lock file " + lock + " is a link, which is never followed"),
            std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(root_.path() + "/elsewhere"));
}

TEST_F(IpcLibraryTest, ServerOnAChannelNamedLikeALockFileLeavesTheLiveChannelAlone) {
  // Its socket file name is "<first channel's file name>.lock".
  IIpcServer* neighbour = CreateServerInstance();
  ASSERT_EQ(neighbour->StartListening((ServerChannel() + std::u16string(u".lock")).c_str(),
                                      EchoCallback, 0),
            kIpcOk);
  DestroyServerInstance(neighbour);

  IIpcServer* second = CreateServerInstance();
  EXPECT_EQ(second->StartListening(ServerChannel(), EchoCallback, 0), kIpcChannelInUse);
  DestroyServerInstance(second);
  EXPECT_EQ(Send("still first").reply, "echo:still first");
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

  const sockaddr_un address = SocketAddress();
  const int connected =
      connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
  const std::clock_t cpu_before = std::clock();  // the whole process's processor time
  std::this_thread::sleep_for(500ms);
  const double cpu_used = static_cast<double>(std::clock() - cpu_before) / CLOCKS_PER_SEC;

  for (int fd : fillers) close(fd);
  setrlimit(RLIMIT_NOFILE, &saved);
  ASSERT_EQ(connected, 0);
  EXPECT_FALSE(fillers.empty());
  // Pausing between attempts costs well under a millisecond here; a server
  // that retries accept at once burns the whole half second it can get.
  EXPECT_LT(cpu_used, 0.05);
  // Once descriptors are free the waiting client is served: a reply follows,
  // "echo:late" in UTF-16 with its terminator.
  RawClient late(ipc::SocketConnection(platform::ScopedFd(client)));
  ASSERT_TRUE(late.Send(std::string("\x04\0\0\0late", 8)));
  EXPECT_EQ(late.ReceiveUntilClosed(),
            std::string("\x01\x14\0\0\0e\0c\0h\0o\0:\0l\0a\0t\0e\0\0\0", 25));
}

TEST_F(IpcLibraryTest, ServerAcceptsAgainAfterEverySlotExpiredAtOnce) {
  // The server runs in a child that is stopped while its 128 idle clients'
  // time-outs pass, so that all of them expire in the same round.
  DestroyServerInstance(server_);
  server_ = nullptr;
  const int inherited = SocketsOf(getpid());
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    CreateServerInstance()->StartListening(ServerChannel(), EchoCallback, 0);
    for (;;) pause();
  }
  // Its listening socket and |connections| accepted ones, nothing else.
  const auto server_holds = [&](int connections) {
    return test::WaitFor([&] { return SocketsOf(child) == inherited + 1 + connections; }, 20s,
                         20ms);
  };
  test::WaitFor([] { return Send("ready", 1000).result == kIpcOk; }, 5s, 50ms);
  const bool ready = server_holds(0);
  std::vector<RawClient> idle;
  for (int i = 0; i < 128; ++i) idle.emplace_back();
  // Stopped before it accepted them all, the server would accept the rest
  // afresh after the pause, and they would rightly hold the slots again.
  const bool all_accepted = server_holds(128);
  kill(child, SIGSTOP);
  std::this_thread::sleep_for(5500ms);  // past the server's 5 s request time-out
  kill(child, SIGCONT);
  const Exchange after = Send("after", 10000);
  const bool alive = waitpid(child, nullptr, WNOHANG) == 0;
  struct stat socket_file {};
  const bool socket_there = stat(SocketPath().c_str(), &socket_file) == 0;
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  ASSERT_TRUE(ready && all_accepted);
  EXPECT_EQ(after.result, kIpcOk) << "server alive: " << alive
                                  << ", socket there: " << socket_there;
  EXPECT_EQ(after.reply, "echo:after");
}

TEST_F(IpcLibraryTest, PeerOfAnotherUserIsRefusedBeforeAnythingIsRead) {
  if (!RunningAsRoot()) GTEST_SKIP() << "needs root to act as another user";
  const sockaddr_un address = SocketAddress();  // while the folders are private
  // Open the private folders so that only the peer check stands in the way.
  const std::string runtime = getenv("XDG_RUNTIME_DIR");
  for (const std::string& path : {runtime, runtime + "/wardex", runtime + "/wardex/ipc"}) {
    chmod(path.c_str(), 0755);
  }
  chmod(address.sun_path, 0666);
  const int status = RunAsUnprivileged([&address] {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) return 9;
    // The server closes the connection without a reply.
    RawClient peer(ipc::SocketConnection(platform::ScopedFd(fd)));
    peer.Send(std::string("\x05\0\0\0hello", 9));
    return peer.ReceiveUntilClosed() == "" ? 0 : 10;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(g_calls.load(), 0);
}

TEST_F(IpcLibraryTest, NoWorkerRefusesOnlyThatRequest) {
  if (!RunningAsRoot()) GTEST_SKIP() << "needs root to act as a user bound by RLIMIT_NPROC";
  // The child makes threads: it must be forked from a process with one thread.
  DestroyServerInstance(server_);
  server_ = nullptr;
  const int status = RunAsUnprivileged([] {
    char folder[] = "/tmp/wardex-nproc-XXXXXX";
    if (mkdtemp(folder) == nullptr || setenv("XDG_RUNTIME_DIR", folder, 1) != 0) return 20;
    IIpcServer* server = CreateServerInstance();
    if (server->StartListening(ServerChannel(), EchoCallback, 0) != kIpcOk) return 21;
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

}  // namespace
}  // namespace wardex::test
