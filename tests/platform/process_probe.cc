// Another process of the user for the platform tests. For the process tests:
//   exit N         ends with N
//   sleep MS       sleeps, then ends with 0
//   stubborn FILE  deaf to SIGTERM on Linux, leaves FILE, then sleeps a minute
//   channel VALUE  writes "through" to its channel (descriptor 3 on Linux, the
//                  inherited handle VALUE on Windows), then sleeps a minute
//   closable FILE  waits to be asked to close, once it can be asked leaving
//                  FILE: on Windows its window is asked and it ends with 7; on
//                  Linux the request is SIGTERM, whose default ends it
//   anything else  records its working folder and its arguments, one a line
//                  in brackets, in the file "started" there
// For the named-object tests (exit code 0 when all went as said, else 1):
//   hold NAME          creates the semaphore and holds it until killed
//   set NAME [MS]      opens the event and sets it, after MS milliseconds
//   create-set NAME    creates the event anew and sets it
//   join NAME set|reset  joins the existing event (asking for the other
//                      state) and finds it so
// For the profile tests, a second writer (exit code 0 when every write succeeded):
//   write-profile FILE WRITER COUNT  writes COUNT keys "<WRITER>_<i>" into
//                      section "s" of FILE
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "osal/wide_format.h"
#include "platform/named_objects.h"
#include "platform/profile.h"
#include "platform/ui.h"

#ifdef _WIN32
#include "platform/windows_api.h"
#else
#include <signal.h>
#include <unistd.h>
#endif

namespace {

// A failed test must leave no probe behind: every wait ends by itself.
constexpr auto kLongest = std::chrono::minutes(1);

// Writes "through" to the channel named |value|.
#ifdef _WIN32
bool WriteToChannel(const char* value) {
  DWORD written = 0;
  return WriteFile(reinterpret_cast<HANDLE>(static_cast<intptr_t>(std::atoll(value))), "through", 7,
                   &written, nullptr) &&
         written == 7;
}
#else
bool WriteToChannel(const char* /*value*/) { return write(3, "through", 7) == 7 && close(3) == 0; }
#endif

using wardex::platform::NamedEvent;
using wardex::platform::NamedSemaphore;

// The named-object commands; 2 for none of them.
int NamedObjects(const std::string& command, const KaOSAL::KaString& name, const char* argument) {
  if (command == "hold") {
    const auto held = NamedSemaphore::Create(name);
    if (!held || held->already_existed()) return 1;
    std::this_thread::sleep_for(kLongest);
    return 1;
  }
  if (command == "set") {
    if (argument != nullptr)
      std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argument)));
    const auto opened = NamedEvent::Open(name);
    return opened && opened->Set() ? 0 : 1;
  }
  if (command == "create-set") {
    const auto made = NamedEvent::Create(name, false);
    return made && !made->already_existed() && made->Set() ? 0 : 1;
  }
  if (command == "join" && argument != nullptr) {
    const bool expect_set = std::string(argument) == "set";
    const auto joined = NamedEvent::Create(name, !expect_set);
    const auto expected = expect_set ? wardex::platform::WaitResult::kSignaled
                                     : wardex::platform::WaitResult::kTimeout;
    return joined && joined->already_existed() && joined->Wait(0) == expected ? 0 : 1;
  }
  return 2;
}

int WriteProfile(const char* file, const std::string& writer, int count) {
  const std::u16string path = KaOSAL::FromUtf8(file);
  for (int i = 0; i < count; ++i) {
    const std::u16string key = KaOSAL::FromUtf8(writer + "_" + std::to_string(i));
    if (wardex::platform::WritePrivateProfileString(u"s", key.c_str(), u"1", path.c_str()) != 1) {
      return 1;
    }
  }
  return 0;
}

}  // namespace

namespace wardex::platform {
namespace {

// Once it can be asked to close, leaves |ready|. The request is WM_CLOSE to
// its window on Windows (a hidden top-level one), which ends it with 7, and
// SIGTERM on Linux, whose default ends it.
class Closable : public Window {
  LRESULT WindowProc(UINT message, WPARAM, LPARAM) override {
    if (message == WM_CLOSE) PostQuitMessage(7);
    if (message == WM_TIMER) PostQuitMessage(3);
    return 0;
  }
};

int WaitToBeClosed(const char* ready) {
  MessageLoop loop;
  Closable window;
  if (window.Register() == nullptr) return 2;
  std::ofstream(ready).close();
  SetTimer(window.hwnd(), 1, std::chrono::milliseconds(kLongest).count());
  return loop.Run();
}

}  // namespace
}  // namespace wardex::platform

int main(int argc, char** argv) {
  const std::string mode = argc > 2 ? argv[1] : "";
  if (mode == "exit") return std::atoi(argv[2]);
  if (mode == "closable") return wardex::platform::WaitToBeClosed(argv[2]);
  if (mode == "sleep") {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[2])));
    return 0;
  }
  if (mode == "stubborn") {
#ifndef _WIN32
    signal(SIGTERM, SIG_IGN);
#endif
    std::ofstream(argv[2]).close();
    std::this_thread::sleep_for(kLongest);
    return 0;
  }
  if (mode == "channel") {
    if (!WriteToChannel(argv[2])) return 102;
    std::this_thread::sleep_for(kLongest);
    return 0;
  }
  if (mode == "write-profile" && argc == 5)
    return WriteProfile(argv[2], argv[3], std::atoi(argv[4]));
  if (argc > 2) {
    const int named = NamedObjects(mode, KaOSAL::KaString(argv[2], KaOSAL::KA_CP_UTF8),
                                   argc > 3 ? argv[3] : nullptr);
    if (named != 2) return named;
  }
  std::ofstream out("started", std::ios::binary);
  out << std::filesystem::current_path().string() << '\n';
  for (int i = 1; i < argc; ++i) out << '[' << argv[i] << "]\n";
  return out ? 0 : 101;
}
