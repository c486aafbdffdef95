// Load driver for the IPC library: round-trip latency of a kind-5 message
// through the library beside a bare echo of the same bytes over the same
// transport (a Unix socket, or a named pipe on Windows), and throughput with
// 1, 4 and 16 clients. Both sides connect once per exchange, as the library
// does. Usage: ipc_bench [round_trips] [seconds_per_load]
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

#include "ipc_bare_echo.h"
#include "wardex/ipc.h"

extern "C" wardex::IIpcClient* CreateClientInstance();
extern "C" wardex::IIpcServer* CreateServerInstance();
extern "C" void WARDEX_STDCALL DestroyClientInstance(wardex::IIpcClient* client);
extern "C" void WARDEX_STDCALL DestroyServerInstance(wardex::IIpcServer* server);

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
  std::fflush(stdout);  // each figure as it comes, also through a pipe
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
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const int round_trips = argc > 1 ? std::atoi(argv[1]) : 5000;
  const double seconds = argc > 2 ? std::atof(argv[2]) : 2.0;
  const std::unique_ptr<BareEcho> bare = BareEcho::Start(
      std::string(reinterpret_cast<const char*>(kReply), sizeof(kReply)));

  wardex::IIpcServer* server = CreateServerInstance();
  if (server->StartListening(u"bench", ReplyCallback, 0) != wardex::kIpcOk) {
    std::fprintf(stderr, "cannot start the server\n");
    return 1;
  }
  wardex::IIpcClient* client = CreateClientInstance();
  client->SetChannel(u"bench");
  ReportLatency(bare->name(), round_trips, [&] { return bare->Exchange(kRequest); });
  ReportLatency("kvl_ipc32 kind-5 round trip", round_trips,
                [&] { return LibraryExchange(client); });
  DestroyClientInstance(client);
  for (int clients : {1, 4, 16}) ReportThroughput(clients, seconds);

  DestroyServerInstance(server);
  return 0;
}
