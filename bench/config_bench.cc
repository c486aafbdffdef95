// The cost of the configuration reads that the agent makes on every use:
// ReadInstallConfig finds and reads install.cfg at each call, and every
// product-key read and write opens the key anew; writes are flushed.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "config/install_config.h"
#include "config/languages.h"
#include "config/module_path.h"
#include "config/registry.h"
#include "osal/wide_format.h"

namespace {

namespace fs = std::filesystem;

constexpr char kInstallConfig[] =
    "[install]\nRegKey=Brisko\nModule=bk_free\nProductName=Brisko\nLanguage=de_DE\nOSLang=0\n"
    "UserContentPath=/tmp/\ncompany=Corvane\nphash=0123456789abcdef\n"
    "ProductTrackingName=brisko\n[INSTALL]\nSTARTEREXE=briskostart\n"
    "[web]\nnewsfeedURL=https://127.0.0.1:8443/feed\n[ipc]\nServiceChannelName=wardex_tray\n"
    "[Remote]\nServerIP=127.0.0.1\n";

// A private machine root and user data folder, and an install.cfg beside the
// benchmark program (removed again unless it was there before).
class Environment {
 public:
  Environment() {
    std::string templ = (fs::temp_directory_path() / "wardex-bench-XXXXXX").string();
    folder_ = mkdtemp(templ.data());
    setenv("WARDEX_ROOT", (folder_ + "/root").c_str(), 1);
    setenv("XDG_DATA_HOME", (folder_ + "/data").c_str(), 1);
    const KaOSAL::KaString exe = wardex::GetExecutablePath();
    config_ = fs::path(KaOSAL::ToUtf8(exe.c_str(), static_cast<size_t>(exe.GetLength())))
                  .replace_filename("install.cfg");
    if (!fs::exists(config_)) {
      std::ofstream(config_) << kInstallConfig;
      created_ = true;
    }
  }
  ~Environment() {
    if (created_) fs::remove(config_);
    fs::remove_all(folder_);
  }

 private:
  std::string folder_;
  fs::path config_;
  bool created_ = false;
};

void BM_ReadInstallConfig(benchmark::State& state) {
  Environment environment;
  for (auto _ : state) {
    benchmark::DoNotOptimize(wardex::ReadInstallConfig(u"ipc", u"ServiceChannelName", u""));
  }
}
BENCHMARK(BM_ReadInstallConfig);

void BM_RegistryReadDWord(benchmark::State& state) {
  Environment environment;
  wardex::CRegistry key(false);
  key.SetRootKey(wardex::HKEY_LOCAL_MACHINE);
  if (!key.Open(u"SOFTWARE\\Corvane\\Brisko", true) || !key.WriteDWord(u"Tray_StartCount", 7)) {
    state.SkipWithError("cannot write the product key");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(key.ReadDWord(u"Tray_StartCount", 0));
}
BENCHMARK(BM_RegistryReadDWord);

void BM_RegistryWriteFlushed(benchmark::State& state) {
  Environment environment;
  wardex::CRegistry key(false);
  key.SetRootKey(wardex::HKEY_LOCAL_MACHINE);
  if (!key.Open(u"SOFTWARE\\Corvane\\Brisko", true)) {
    state.SkipWithError("cannot create the product key");
    return;
  }
  uint32_t count = 0;
  for (auto _ : state) {
    if (!key.WriteDWord(u"Tray_StartCount", ++count)) state.SkipWithError("write failed");
  }
}
BENCHMARK(BM_RegistryWriteFlushed)->Unit(benchmark::kMillisecond);

// A text file of 8,000 keys in about 687 KB (86 bytes a line), read into the
// text table as LoadTexts reads it at the agent's first text lookup.
void BM_ReadTextTable8000Keys(benchmark::State& state) {
  constexpr int kKeys = 8000;
  const fs::path file =
      fs::temp_directory_path() / ("wardex-bench-texts-" + std::to_string(getpid()) + ".ini");
  {
    std::ofstream out(file);
    out << "[Wardex]\n";
    for (int i = 0; i < kKeys; ++i) {
      char line[96];
      std::snprintf(line, sizeof(line), "IDS_STRING_%05d=%s\n", i,
                    "A localised text of the tray agent with a line\\nbreak and more words");
      out << line;
    }
  }
  state.counters["file_kb"] = static_cast<double>(fs::file_size(file)) / 1000.0;
  const KaOSAL::KaString path(file.c_str(), KaOSAL::KA_CP_UTF8);
  for (auto _ : state) {
    const auto table = wardex::languages_internal::ReadTextTable(path);
    if (table.empty() || table.begin()->second.size() != kKeys) state.SkipWithError("keys missing");
  }
  fs::remove(file);
}
BENCHMARK(BM_ReadTextTable8000Keys)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
