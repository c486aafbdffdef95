// What the demo modules (HandsetLink, Wardex, SnapCheck, Turbo) share: copying texts into
// the agent's buffers, their state folder, the install-time marker, and a base
// class with the IModule operations a module has nothing to do for.
#pragma once

#include <cstdint>
#include <string>

#include "osal/ka_string.h"
#include "wardex/module.h"

namespace wardex::demo {

// Text at the edges: UTF-8 for files and numbers, UTF-16 for the agent.
std::string Utf8(const KaOSAL::KaString& text);
KaOSAL::KaString Wide(const std::string& text);

// "12.3 GB" style, base 1024, one decimal ("512 B" below 1 KB).
std::string FormatBytes(uint64_t bytes);

// Copies |text| into |buffer| as far as |capacity| characters allow (always
// terminated when capacity > 0). Returns the characters the whole text needs,
// without the terminator, so that (nullptr, 0) asks for the length.
int32_t CopyText(const KaOSAL::KaString& text, char16_t* buffer, int32_t capacity);

// |name| in |folder|, joined with the system's separator.
KaOSAL::KaString InFolder(const KaOSAL::KaString& folder, const char16_t* name);

// The modules' state folder: "wardex" in the user's state folder
// ($XDG_STATE_HOME on Linux, the local application data folder on Windows).
KaOSAL::KaString StateFolder();

// The marker that Register leaves and Unregister removes:
// <state folder>/modules/<module>.registered. Both log what they did; failures are logged and
// otherwise ignored (the installer cannot act on them).
void WriteRegistrationMarker(const char* module);
void RemoveRegistrationMarker(const char* module);

// Makes |folder| if needed and writes |content| to |name| in it through a
// temporary file put in its place, so that readers see the old or the new
// content, never a part. False with the last error set.
[[nodiscard]] bool WriteFileAtomically(const KaOSAL::KaString& folder, const char16_t* name,
                                       const std::string& content);

// The operations that a demo module does not use answer "nothing": no menu
// text, no task results, no monitoring. Register and Unregister keep the
// marker of |kName|, which the derived class provides.
template <typename Base, const char* kName>
class DemoModule : public Base {
 public:
  int32_t GetMenuText(char16_t* buffer, int32_t capacity) override {
    return CopyText(KaOSAL::KaString(), buffer, capacity);
  }
  void Register() override { WriteRegistrationMarker(kName); }
  void Unregister() override { RemoveRegistrationMarker(kName); }
  double GetResultLevel(int32_t) override { return 0.0; }
  void GetResultText(char16_t* buffer, int32_t capacity, int32_t) override {
    CopyText(KaOSAL::KaString(), buffer, capacity);
  }
  void GetResultDescription(char16_t* buffer, int32_t capacity, int32_t) override {
    CopyText(KaOSAL::KaString(), buffer, capacity);
  }
  void GetResultDetails(char16_t* buffer, int32_t capacity, int32_t) override {
    CopyText(KaOSAL::KaString(), buffer, capacity);
  }
  int32_t GetSubResults(char16_t* buffer, int32_t capacity, int32_t) override {
    return CopyText(KaOSAL::KaString(), buffer, capacity);
  }
  void StartTask(int32_t, int32_t, int32_t) override {}
  void RunTask(int32_t) override {}
  void StopTask(int32_t) override {}
  void SetConsoleView(IConsoleView*) override {}
  void StartMonitoring(int32_t, int32_t) override {}
  void StopMonitoring() override {}
};

}  // namespace wardex::demo
