// TurboModule.so: the Turbo mode switch (flag 0x20). The state is kept in
// <state folder>/turbo ("0" or "1"; see StateFolder), read anew at every question so
// that every process of the user sees one state, written atomically; a change
// is announced through the Console.
#include <mutex>
#include <string>

#include "../common/demo_module.h"
#include "osal/ka_string.h"
#include "osal/last_error.h"
#include "platform/file_system.h"
#include "wardex/console_view.h"
#include "wardex/crashlog.h"
#include "wardex/module.h"

namespace wardex::demo {
namespace {

constexpr char kModuleName[] = "TurboModule";
constexpr int32_t kMessageSeconds = 5;

constexpr char16_t kStateFile[] = u"turbo";

// The stored state: 1 when the file's first line says "1", else 0 (also when
// it is missing).
int32_t ReadState() {
  std::string text;
  if (!platform::ReadWholeFile(InFolder(StateFolder(), kStateFile), 64, &text)) return 0;
  return text.substr(0, text.find('\n')) == "1" ? 1 : 0;
}

KaOSAL::KaString StateText(int32_t state) {
  return state != 0 ? u"Turbo mode is on" : u"Turbo mode is off";
}

class TurboModule final : public DemoModule<ISwitchModule, kModuleName> {
 public:
  int32_t GetMenuText(char16_t* buffer, int32_t capacity) override {
    return CopyText(u"Turbo mode", buffer, capacity);
  }
  uint32_t GetFlags() override { return kModuleFlagSwitch; }
  void GetResultText(char16_t* buffer, int32_t capacity, int32_t) override {
    CopyText(StateText(ReadState()), buffer, capacity);
  }
  void SetConsoleView(IConsoleView* view) override {
    std::lock_guard<std::mutex> hold(lock_);
    view_ = view;
  }

  // Any state other than 0 means on. True when the stored state changed.
  bool SetSwitchState(int32_t state, int32_t) override {
    const int32_t wanted = state != 0 ? 1 : 0;
    IConsoleView* view;
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (ReadState() == wanted) return false;
      if (!WriteFileAtomically(StateFolder(), kStateFile, wanted != 0 ? "1\n" : "0\n")) {
        LogW(kLogError, u"TurboModule: cannot write %s (error %lu)",
             InFolder(StateFolder(), kStateFile).c_str(),
             static_cast<unsigned long>(KaOSAL::GetLastError()));
        return false;
      }
      view = view_;
    }
    LogW(kLogInfo, u"TurboModule: %s", StateText(wanted).c_str());
    if (view != nullptr)
      view->ShowMessage(StateText(wanted), u"Turbo", kMessageSeconds, KaOSAL::KaString(),
                        KaOSAL::KaString());
    return true;
  }
  int32_t GetSwitchState(int32_t, int32_t, int32_t) override { return ReadState(); }

 private:
  std::mutex lock_;  // one change at a time in this process
  IConsoleView* view_ = nullptr;
};

}  // namespace
}  // namespace wardex::demo

// The factory hands out the IModule part; the agent reaches the switch part
// with ToModuleSwitch.
WARDEX_EXPORT wardex::IModule* CreateInstanceOfModule() {
  return static_cast<wardex::IModule*>(new wardex::demo::TurboModule);
}

WARDEX_EXPORT void WARDEX_STDCALL DestroyInstanceOfModule(wardex::IModule* instance) {
  delete static_cast<wardex::demo::TurboModule*>(instance);
}
