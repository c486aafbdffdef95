// The HTTP client against a local HTTPS server in a private network
// namespace: requests per second with one client (its connection reused)
// and with a new client per request (a new connection and TLS handshake
// each), and the upload of 1 MB. The "connections" counter is the number
// of connections the server saw per request.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "online/https_test_server.h"
#include "online/private_network.h"
#include "online/ve_http_comunicator.h"

namespace {

using wardex::CVeHTTPComunicator;
using wardex::test::HttpsTestServer;

using BenchComunicator = wardex::test::TrustingTestCa<CVeHTTPComunicator>;

HttpsTestServer& Server() {
  static HttpsTestServer* server = [] {
    auto* s = new HttpsTestServer();
    s->Handle("/small", [](const httplib::Request&, httplib::Response& response) {
      response.body = std::string(200, 's');
    });
    s->Handle("/upload", [](const httplib::Request& request, httplib::Response& response) {
      response.body = std::to_string(request.body.size());
    });
    s->Start();
    return s;
  }();
  return *server;
}

KaOSAL::KaString Url(const char* path) {
  const std::string url = "https://127.0.0.1:" + std::to_string(Server().port()) + path;
  return KaOSAL::KaString(url.c_str(), KaOSAL::KA_CP_UTF8);
}

void Report(benchmark::State& state, size_t connections_before, int requests_before) {
  const int requests = Server().requests() - requests_before;
  state.SetItemsProcessed(requests);
  state.counters["connections"] = benchmark::Counter(
      static_cast<double>(Server().connections() - connections_before) / requests);
}

void BM_GetReusingTheConnection(benchmark::State& state) {
  const KaOSAL::KaString url = Url("/small");
  const size_t connections = Server().connections();
  const int requests = Server().requests();
  BenchComunicator client;
  for (auto _ : state) {
    if (client.HttpPost(url, "").size() != 200) state.SkipWithError("request failed");
  }
  Report(state, connections, requests);
}

void BM_GetWithANewClientEach(benchmark::State& state) {
  const KaOSAL::KaString url = Url("/small");
  const size_t connections = Server().connections();
  const int requests = Server().requests();
  for (auto _ : state) {
    BenchComunicator client;
    if (client.HttpPost(url, "").size() != 200) state.SkipWithError("request failed");
  }
  Report(state, connections, requests);
}

void BM_Post1MB(benchmark::State& state) {
  const KaOSAL::KaString url = Url("/upload");
  const std::string body(1u << 20, 'b');
  BenchComunicator client;
  for (auto _ : state) {
    if (client.HttpPost(url, body) != std::to_string(body.size())) {
      state.SkipWithError("upload failed");
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}

BENCHMARK(BM_GetReusingTheConnection)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_GetWithANewClientEach)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Post1MB)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  std::string reason;
  if (!wardex::test::EnterPrivateNetwork(&reason)) {
    std::fprintf(stderr, "http_bench needs a private network namespace: %s\n", reason.c_str());
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
