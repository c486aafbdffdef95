// Load driver for the IPC library: round-trip latency of a kind-5 message
// through the library beside a bare Unix-socket echo of the same bytes, and
// throughput with 1, 4 and 16 clients. Both sides connect once per exchange,
// as the library does. Usage: ipc_bench [round_trips] [seconds_per_load]
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "wardex/ipc.h"

WARDEX_EXPORT wardex::IIpcClient* CreateClientInstance();
WARDEX_EXPORT wardex::IIpcServer* CreateServerInstance();
WARDEX_EXPORT void DestroyClientInstance(wardex::IIpcClient* client);
WARDEX_EXPORT void DestroyServerInstance(wardex::IIpcServer* server);

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kRequest[] = R"({"ModuleIdentificator":"WardexModule","ModuleRequest":5})";
constexpr char16_t kReply[] =
    u"[{\"ModuleIdentificator\":\"WardexModule\",\"ModuleRequest\":5,\"ResultLevel\":0.000000}]";

void ReplyCallback(const char*, uint32_t, char16_t* reply, uint32_t* reply_size, uintptr_t) {
  const uint32_t bytes = sizeof(kReply);
  if (*reply_size < bytes) {
    *reply_size = 0;
    return;
  }
  std::memcpy(reply, kReply, bytes);
  *reply_size = bytes;
}

// One exchange with the bare echo server: the request out, the same-sized reply back.
bool BareExchange(const std::string& path) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, path.c_str());
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
            write(fd, kRequest, sizeof(kRequest) - 1) == sizeof(kRequest) - 1;
  char buffer[sizeof(kReply)];
  size_t got = 0;
  while (ok && got < sizeof(buffer)) {
    const ssize_t n = read(fd, buffer + got, sizeof(buffer) - got);
    ok = n > 0;
    got += ok ? static_cast<size_t>(n) : 0;
  }
  close(fd);
  return ok;
}

// Echo server: reads a request, answers with as many bytes as the library's reply.
void RunBareServer(int listen_fd, std::atomic<bool>& stop) {
  while (!stop) {
    const int fd = accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::thread([fd] {
      char buffer[256];
      if (read(fd, buffer, sizeof(buffer)) > 0) {
        (void)!write(fd, kReply, sizeof(kReply));
      }
      close(fd);
    }).detach();
  }
}

bool LibraryExchange(wardex::IIpcClient* client) {
  char16_t reply[256];
  uint32_t size = sizeof(reply);
  return client->SendMessage(u"", kRequest, sizeof(kRequest) - 1, reply, &size, 3000) ==
         wardex::kIpcOk;
}

void ReportLatency(const char* name, int count, const std::function<bool()>& exchange) {
  std::vector<double> micros;
  micros.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    const auto start = Clock::now();
    if (!exchange()) {
      std::fprintf(stderr, "%s: exchange failed\n", name);
      std::exit(1);
    }
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  std::sort(micros.begin(), micros.end());
  std::printf("%-28s median %7.1f us   p99 %7.1f us   (%d round trips)\n", name,
              micros[micros.size() / 2], micros[micros.size() * 99 / 100], count);
}

void ReportThroughput(int clients, double seconds) {
  std::atomic<long> done{0};
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&] {
      wardex::IIpcClient* client = CreateClientInstance();
      client->SetChannel(u"bench");
      while (!stop) done += LibraryExchange(client) ? 1 : 0;
      DestroyClientInstance(client);
    });
  }
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  stop = true;
  for (std::thread& t : threads) t.join();
  std::printf("throughput, %2d client(s):     %8.0f messages/s\n", clients, done / seconds);
}

}  // namespace

int main(int argc, char** argv) {
  const int round_trips = argc > 1 ? std::atoi(argv[1]) : 5000;
  const double seconds = argc > 2 ? std::atof(argv[2]) : 2.0;
  char folder_template[] = "/tmp/wardex-ipc-bench-XXXXXX";
  const std::string folder = mkdtemp(folder_template);
  setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);

  wardex::IIpcServer* server = CreateServerInstance();
  if (server->StartListening(u"bench", ReplyCallback, 0) != wardex::kIpcOk) {
    std::fprintf(stderr, "cannot start the server\n");
    return 1;
  }
  const std::string bare_path = folder + "/bare.sock";
  const int listen_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, bare_path.c_str());
  bind(listen_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  listen(listen_fd, 128);
  std::atomic<bool> stop_bare{false};
  std::thread bare(RunBareServer, listen_fd, std::ref(stop_bare));

  wardex::IIpcClient* client = CreateClientInstance();
  client->SetChannel(u"bench");
  ReportLatency("bare Unix-socket echo", round_trips, [&] { return BareExchange(bare_path); });
  ReportLatency("kvl_ipc32 kind-5 round trip", round_trips,
                [&] { return LibraryExchange(client); });
  DestroyClientInstance(client);
  for (int clients : {1, 4, 16}) ReportThroughput(clients, seconds);

  stop_bare = true;
  shutdown(listen_fd, SHUT_RDWR);
  BareExchange(bare_path);
  bare.join();
  close(listen_fd);
  DestroyServerInstance(server);
  std::string cleanup = "rm -rf " + folder;
  return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
