// The running agent's start-up and idle figures, measured on the real binary
// in a staged tree of its own (tests/integration/agent_harness.h):
//   - time from spawning the agent to its pipe server answering a kind-5
//     message, polled every millisecond through the IPC library (the spawn
//     goes through unshare -n and sh, so it includes them);
//   - resident memory (VmRSS) once it answers, and again after 10 s idle;
//   - context switches of all its threads while idle for 10 s (each one is a
//     wake-up; none are expected);
//   - the round trip of kind 5 (answer only) and kind 6 (a module's task
//     stopped through the module cache) through the running agent, one client,
//     median and 99th percentile;
//   - the close: from SIGTERM to the process's end (polled every 5 ms).
// Usage: agent_figures [RUNS [ROUND_TRIPS]] (defaults 5 and 2000). Prints one
// line per run and the medians.
#include <dirent.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "integration/agent_harness.h"
#include "wardex/ipc.h"

WARDEX_EXPORT wardex::IIpcClient* CreateClientInstance();

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A "Name:   value" field of /proc/PID/status or /proc/PID/task/TID/status.
long StatusField(const std::string& path, const std::string& name) {
  std::ifstream file(path);
  std::string line;
  while (std::getline(file, line)) {
    if (line.rfind(name + ":", 0) == 0) return std::atol(line.c_str() + name.size() + 1);
  }
  return -1;
}

// Voluntary and involuntary context switches of each thread of |pid|, by id.
// Thread ids are given with their position: "main" for the process's own.
std::map<std::string, long> ContextSwitches(pid_t pid) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  std::map<std::string, long> switches;
  DIR* dir = opendir(tasks.c_str());
  if (dir == nullptr) return switches;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    const std::string status = tasks + "/" + entry->d_name + "/status";
    const std::string id =
        std::string(entry->d_name) + (std::to_string(pid) == entry->d_name ? " (main)" : "");
    switches[id] = StatusField(status, "voluntary_ctxt_switches") +
                   StatusField(status, "nonvoluntary_ctxt_switches");
  }
  closedir(dir);
  return switches;
}

// The switches between two samples: threads in both by their difference,
// new threads by all of theirs.
long SwitchesBetween(const std::map<std::string, long>& before,
                     const std::map<std::string, long>& after) {
  long total = 0;
  for (const auto& [thread, count] : after) {
    auto found = before.find(thread);
    const long switches = found != before.end() ? count - found->second : count;
    if (switches != 0) std::printf("  thread %s: %ld switches\n", thread.c_str(), switches);
    total += switches;
  }
  return total;
}

// Sends |message| once through the IPC library's client; true when answered.
bool RoundTrip(wardex::IIpcClient* client, const std::string& message, uint32_t timeout_ms) {
  char16_t reply[4096];
  uint32_t size = sizeof(reply);
  return client->SendMessage(u"", message.data(), static_cast<uint32_t>(message.size()), reply,
                             &size, timeout_ms) == wardex::kIpcOk;
}

struct Figures {
  double answer_ms;
  long rss_kib;
  long idle_rss_kib;
  long idle_switches;
  int threads;
  double kind5_median_us;
  double kind5_p99_us;
  double kind6_median_us;
  double kind6_p99_us;
  double close_ms;
};

// Median and 99th percentile of |count| round trips of |message|, in microseconds.
bool MeasureRoundTrips(wardex::IIpcClient* client, const std::string& message, int count,
                       double* median_us, double* p99_us) {
  std::vector<double> times;
  for (int i = 0; i < count; ++i) {
    const auto start = Clock::now();
    if (!RoundTrip(client, message, 3000)) return false;
    times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  *median_us = times[times.size() / 2];
  *p99_us = times[times.size() * 99 / 100];
  return true;
}

bool MeasureOnce(wardex::IIpcClient* client, int round_trips, Figures* figures) {
  wardex::test::AgentTree tree;
  tree.AddConsole();
  tree.AddModule("HandsetLinkModule");
  tree.AddModule("WardexModule");
  tree.AddModule("SnapCheckModule", "kind=snapcheck\n");
  tree.AddModule("TurboModule", "flags=32\n");
  tree.AddModule("A", "flags=4\n");
  // The agent's own idle, not the test shell's: that one reads its control
  // file every 10 ms.
  setenv("WARDEX_SHELL", "headless", 1);
  const auto start = Clock::now();
  auto agent = tree.Start();
  if (!agent) return false;
  while (!RoundTrip(client, R"({"ModuleRequest":5})", 1000)) {
    if (Clock::now() - start > std::chrono::seconds(20)) return false;
    std::this_thread::sleep_for(milliseconds(1));
  }
  figures->answer_ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  const std::string status = "/proc/" + std::to_string(agent->pid()) + "/status";
  figures->rss_kib = StatusField(status, "VmRSS");
  // Let the news-feed thread and the first callback's worker settle first.
  std::this_thread::sleep_for(milliseconds(500));
  figures->threads = static_cast<int>(StatusField(status, "Threads"));
  const auto before = ContextSwitches(agent->pid());
  std::this_thread::sleep_for(std::chrono::seconds(10));
  figures->idle_switches = SwitchesBetween(before, ContextSwitches(agent->pid()));
  figures->idle_rss_kib = StatusField(status, "VmRSS");
  if (!MeasureRoundTrips(client, R"({"ModuleRequest":5})", round_trips, &figures->kind5_median_us,
                         &figures->kind5_p99_us) ||
      !MeasureRoundTrips(client, R"({"ModuleRequest":6,"ModuleIdentificator":"A"})", round_trips,
                         &figures->kind6_median_us, &figures->kind6_p99_us)) {
    return false;
  }
  // SIGTERM goes out as AskToClose returns.
  if (!agent->AskToClose()) return false;
  const auto closing = Clock::now();
  const bool closed = agent->Wait(milliseconds(10000)) == 0;
  figures->close_ms = std::chrono::duration<double, std::milli>(Clock::now() - closing).count();
  return closed;
}

}  // namespace

int main(int argc, char** argv) {
  std::string reason;
  if (!wardex::test::CanUnshareNetwork(&reason)) {
    std::fprintf(stderr, "agent_figures: %s\n", reason.c_str());
    return 1;
  }
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const int round_trips = argc > 2 ? std::max(100, std::atoi(argv[2])) : 2000;
  wardex::IIpcClient* client = CreateClientInstance();
  client->SetChannel(u"wardex-test");
  std::vector<Figures> all;
  for (int run = 0; run < runs; ++run) {
    Figures figures{};
    if (!MeasureOnce(client, round_trips, &figures)) {
      std::fprintf(stderr, "agent_figures: run %d failed\n", run + 1);
      return 1;
    }
    std::printf(
        "run %d: answers after %.1f ms, VmRSS %ld KiB (%ld KiB idle), %d threads, %ld wake-ups "
        "in 10 s idle; kind 5 round trip median %.0f us p99 %.0f us; kind 6 median %.0f us p99 "
        "%.0f us; closed %.1f ms after SIGTERM\n",
        run + 1, figures.answer_ms, figures.rss_kib, figures.idle_rss_kib, figures.threads,
        figures.idle_switches, figures.kind5_median_us, figures.kind5_p99_us,
        figures.kind6_median_us, figures.kind6_p99_us, figures.close_ms);
    all.push_back(figures);
  }
  // The median of each figure over the runs.
  auto median_of = [&](auto field) {
    std::vector<double> values;
    for (const Figures& figures : all) values.push_back(static_cast<double>(figures.*field));
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
  };
  std::printf(
      "medians: answers after %.1f ms, VmRSS %.0f KiB (%.0f KiB idle), %.0f wake-ups in 10 s "
      "idle; kind 5 round trip median %.0f us p99 %.0f us; kind 6 median %.0f us p99 %.0f us; "
      "closed %.1f ms after SIGTERM\n",
      median_of(&Figures::answer_ms), median_of(&Figures::rss_kib),
      median_of(&Figures::idle_rss_kib), median_of(&Figures::idle_switches),
      median_of(&Figures::kind5_median_us), median_of(&Figures::kind5_p99_us),
      median_of(&Figures::kind6_median_us), median_of(&Figures::kind6_p99_us),
      median_of(&Figures::close_ms));
  return 0;
}
