// A small program that the configuration tests copy into a staged
// installation tree and run there: what it finds depends on where its
// executable lies, and the once-per-process state starts fresh in each run.
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "config/install_config.h"
#include "config/languages.h"
#include "config/module_path.h"
#include "config/os_language.h"
#include "config/placeholders.h"
#include "config/registry_settings.h"
#include "config/uninstall_list.h"
#include "osal/wide_format.h"

namespace {

using KaOSAL::KaString;

KaString Wide(const char* text) { return KaString(text, KaOSAL::KA_CP_UTF8); }

void Print(const KaString& text) {
  std::printf("%s\n", KaOSAL::ToUtf8(text.c_str(), static_cast<size_t>(text.GetLength())).c_str());
}

// Runs |work| on eight threads released at once and prints each result.
template <typename Work>
void OnThreads(Work work) {
  constexpr int kThreads = 8;
  std::vector<KaString> results(kThreads);
  std::vector<std::thread> threads;
  std::atomic<bool> go{false};
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      while (!go) std::this_thread::yield();
      results[i] = work();
    });
  }
  go = true;
  for (std::thread& thread : threads) thread.join();
  for (const KaString& result : results) Print(result);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace wardex;
#if defined(_WIN32)
  _setmode(_fileno(stdout), _O_BINARY);  // lines end in "\n" as on Linux
#endif
  const std::string command = argc > 1 ? argv[1] : "";
  auto arg = [&](int index) { return index < argc ? Wide(argv[index]) : KaString(); };
  if (command == "path") {
    Print(GetInstallConfigPath().ToString());
  } else if (command == "read") {
    Print(ReadInstallConfig(arg(2), arg(3), arg(4)));
  } else if (command == "ipc") {
    Print(GetIpcChannelName() + u"|" + GetRemoteServerAddress());
  } else if (command == "module") {
    Print(GetModuleFilePath() + u"|" + GetExecutablePath());
  } else if (command == "removed") {
    // The installation as seen by a binary removed or replaced while it runs.
    std::filesystem::remove(argv[2]);
    Print(GetExecutablePath() + u"|" + GetInstallConfigPath().ToString() + u"|" +
          LoadLocalizedString(arg(3), true, KaString()));
  } else if (command == "localize") {
    KaOSAL::KaPath path(arg(2));
    bool found = LocalizePath(path);
    Print(KaString(found ? u"1 " : u"0 ") + path.ToString());
  } else if (command == "languages") {
    for (const LanguageFile& language : LanguagesPresent())
      Print(language.code + u"=" + language.name);
  } else if (command == "text") {
    Print(LoadLocalizedString(arg(2), true, arg(3)));
  } else if (command == "text-threads") {
    OnThreads([&] { return LoadLocalizedString(arg(2), true, KaString()); });
  } else if (command == "expand") {
    KaString text = arg(2);
    ExpandPlaceholders(text);
    Print(text);
  } else if (command == "expand-threads") {
    OnThreads([&] {
      KaString text = arg(2);
      ExpandPlaceholders(text);
      return text;
    });
  } else if (command == "apply") {
    Print(ApplyOperatingSystemLanguage(std::strcmp(argv[2], "1") == 0) ? u"1" : u"0");
  } else if (command == "register") {
    RegisterForUninstall(KaOSAL::KaPath(arg(2)));
  } else if (command == "count-start") {
    CRegistrySettings settings;
    const uint32_t count = settings.ReadDWord(u"Tray_StartCount", 0);
    const bool written = settings.WriteDWord(u"Tray_StartCount", count + 1);
    KaString line;
    line.Format(u"%u %d %s", count, written ? 1 : 0, settings.GetKeyPath().c_str());
    Print(line);
  } else {
    std::fprintf(stderr, "unknown command\n");
    return 2;
  }
  return 0;
}
