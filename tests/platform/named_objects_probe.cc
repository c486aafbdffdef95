// Another process of the user for the named-object tests:
//   named_objects_probe exists NAME        exit 0 when the semaphore exists
//   named_objects_probe hold NAME          creates the semaphore and holds it until killed
//   named_objects_probe set NAME           opens the event and sets it
//   named_objects_probe set-later NAME MS  the same after MS milliseconds
//   named_objects_probe create-set NAME    creates the event anew and sets it
//   named_objects_probe join NAME set|reset
//       joins the existing event (asking for the other state) and finds it so
// Exit code 0 when all went as said, 1 when not, 2 for a wrong command line.
#include <chrono>
#include <string>
#include <thread>

#include "platform/named_objects.h"

using wardex::platform::NamedEvent;
using wardex::platform::NamedSemaphore;
using wardex::platform::WaitResult;

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string command = argv[1];
  const KaOSAL::KaString name(argv[2], KaOSAL::KA_CP_UTF8);
  if (command == "exists") return NamedSemaphore::Exists(name) ? 0 : 1;
  if (command == "hold") {
    const auto held = NamedSemaphore::Create(name);
    if (!held || held->already_existed()) return 1;
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
  }
  if (command == "set" || command == "set-later") {
    if (command == "set-later" && argc > 3) {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(argv[3])));
    }
    const auto opened = NamedEvent::Open(name);
    return opened && opened->Set() ? 0 : 1;
  }
  if (command == "create-set") {
    const auto made = NamedEvent::Create(name, false);
    return made && !made->already_existed() && made->Set() ? 0 : 1;
  }
  if (command == "join" && argc > 3) {
    const bool expect_set = std::string(argv[3]) == "set";
    const auto joined = NamedEvent::Create(name, !expect_set);
    const WaitResult expected = expect_set ? WaitResult::kSignaled : WaitResult::kTimeout;
    return joined && joined->already_existed() && joined->Wait(0) == expected ? 0 : 1;
  }
  return 2;
}
