// A small program that the configuration tests copy into a staged
// installation tree and run there: what it finds depends on where its
// executable lies, and the once-per-process state starts fresh in each run.
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include <atomic>
#include <cstdio>
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

KaString Answer(int argc, char** argv);

// The answers of eight threads released at once, one a line.
KaString OnThreads(int argc, char** argv) {
  constexpr int kThreads = 8;
  std::vector<KaString> results(kThreads);
  std::vector<std::thread> threads;
  std::atomic<bool> go{false};
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      while (!go) std::this_thread::yield();
      results[i] = Answer(argc, argv);
    });
  }
  go = true;
  for (std::thread& thread : threads) thread.join();
  KaString all = results[0];
  for (int i = 1; i < kThreads; ++i) all += u"\n" + results[i];
  return all;
}

// The answer to the command argv[0] with its arguments; "?" for an unknown one.
KaString Answer(int argc, char** argv) {
  using namespace wardex;
  const std::string command = argc > 0 ? argv[0] : "";
  auto arg = [&](int index) { return index < argc ? Wide(argv[index]) : KaString(); };
  if (command == "threads") return OnThreads(argc - 1, argv + 1);
  if (command == "path") return GetInstallConfigPath().ToString();
  if (command == "read") return ReadInstallConfig(arg(1), arg(2), arg(3));
  if (command == "ipc") return GetIpcChannelName() + u"|" + GetRemoteServerAddress();
  if (command == "module") return GetModuleFilePath() + u"|" + GetExecutablePath();
  if (command == "removed") {
    // The installation as seen by a binary removed or replaced while it runs.
    std::filesystem::remove(argv[1]);
    return GetExecutablePath() + u"|" + GetInstallConfigPath().ToString() + u"|" +
           LoadLocalizedString(arg(2), true, KaString());
  }
  if (command == "localize") {
    KaOSAL::KaPath path(arg(1));
    const bool found = LocalizePath(path);
    return KaString(found ? u"1 " : u"0 ") + path.ToString();
  }
  if (command == "languages") {
    KaString all;
    for (const LanguageFile& language : LanguagesPresent())
      all += (all.IsEmpty() ? u"" : u"\n") + language.code + u"=" + language.name;
    return all;
  }
  if (command == "text") return LoadLocalizedString(arg(1), true, arg(2));
  if (command == "expand") {
    KaString text = arg(1);
    ExpandPlaceholders(text);
    return text;
  }
  if (command == "apply") return ApplyOperatingSystemLanguage(arg(1) == u"1") ? u"1" : u"0";
  if (command == "register") {
    RegisterForUninstall(KaOSAL::KaPath(arg(1)));
    return KaString();
  }
  if (command == "count-start") {
    CRegistrySettings settings;
    const uint32_t count = settings.ReadDWord(u"Tray_StartCount", 0);
    const bool written = settings.WriteDWord(u"Tray_StartCount", count + 1);
    KaString line;
    line.Format(u"%u %d %s", count, written ? 1 : 0, settings.GetKeyPath().c_str());
    return line;
  }
  return u"?";
}

}  // namespace

int main(int argc, char** argv) {
#if defined(_WIN32)
  _setmode(_fileno(stdout), _O_BINARY);  // lines end in "\n" as on Linux
#endif
  const KaString answer = Answer(argc - 1, argv + 1);
  std::printf("%s\n",
              KaOSAL::ToUtf8(answer.c_str(), static_cast<size_t>(answer.GetLength())).c_str());
  return answer == u"?" ? 2 : 0;
}
