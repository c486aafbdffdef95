// CMainFrame's tray menu commands and the commands that other programs send.
#include "app/main_frame.h"
#include "app/tray_texts.h"
#include "external/tracking_library.h"
#include "modules/process_control.h"
#include "osal/last_error.h"
#include "platform/named_objects.h"
#include "platform/privileged_instruction.h"
#include "platform/process.h"
#include "platform/seh_guard.h"
#include "platform/shell.h"
#include "platform/thread.h"
#include "wardex/crashlog.h"
#include "wardex/kernel_object_names.h"

namespace wardex {
namespace {

using KaOSAL::KaString;

constexpr uint32_t kStarterReadyWaitMs = 5000;
constexpr uint32_t kStarterRetryDelayMs = 1000;
constexpr char16_t kTurboModuleName[] = u"TurboModule";

}  // namespace

void CMainFrame::OnCommand(uint32_t command) {
  switch (command) {
    case kCommandStartSuite:
      OnStartSuite();
      break;
    case kCommandSnapCheck:
      ShowSnapCheck(kSnapCheckFromMenu);
      break;
    case kCommandLastNotification:
      OnLastNotification();
      break;
    case kCommandTurbo:
      OnSwitchTurbo();
      break;
    case kCommandSettings:
      if (IConsoleView* console = agent_.console.view()) console->ShowSettings();
      break;
    case kCommandInfo:
      if (IConsoleView* console = agent_.console.view()) console->ShowInfo();
      break;
    case kCommandClose:
      OnClose();
      break;
    case kCommandShowIcon:
      agent_.tray.ShowIcon();
      break;
    case kCommandHideIcon:
      agent_.tray.HideIcon();
      break;
    case kCommandReAddIcon:
      agent_.tray.RemoveIcon();
      agent_.tray.AddIcon();
      break;
    case kCommandIconFocus:
      agent_.tray.SetIconFocus();
      break;
    // The frame is never mapped on Linux, so showing and hiding it has no
    // animation to run; the default command swaps as it always did.
    case kCommandShowFrame:
      agent_.tray.SetMenuDefaultItem(kCommandHideFrame, false);
      break;
    case kCommandHideFrame:
      agent_.tray.SetMenuDefaultItem(kCommandShowFrame, false);
      break;
    case kCommandCrashTest:
      OnCrashTest();
      break;
    default:
      break;
  }
}

void CMainFrame::OnStartSuite() {
  Tracking().Event(u"TRAY", u"CLICKS", u"TRAY_RUNBK_BRISKO", u"", u"", 0);
  if (platform::NamedSemaphore::Exists(kStarterSemaphoreName)) {
    LogW(kLogError, u"Wardex.exe: Starter already running");
    return;
  }
  const KaString path = starter_path_.ToString();
  const uint32_t result = RunProgram(path.c_str(), nullptr, kStarterReadyWaitMs, 0, 0, nullptr);
  LogW(kLogError, u"Wardex.exe: Run %s, #%d", path.c_str(), result);
  if (result == 0) return;
  // One more try through the desktop, unless the starter came up meanwhile.
  platform::SleepMilliseconds(kStarterRetryDelayMs);
  if (platform::NamedSemaphore::Exists(kStarterSemaphoreName)) return;
  KaOSAL::SetLastError(0);
  static_cast<void>(platform::ShellOpen(path, starter_path_.GetRootAndDir()));
  LogW(kLogError, u"Wardex.exe: Retry run %s, #%d", path.c_str(), KaOSAL::GetLastError());
}

void CMainFrame::OnLastNotification() {
  if (IModule* wardex = agent_.wardex.instance()) wardex->RunTask(1);
}

void CMainFrame::OnSwitchTurbo() {
  // The frame's own Turbo module, else the cached one, which is unloaded
  // at the end whatever happened: it leaves the cache, so that the next
  // request loads it anew, and goes once no pipe thread is inside it.
  IModuleSwitch* turbo = agent_.turbo.switch_part();
  IModule* module = turbo != nullptr ? agent_.turbo.instance() : nullptr;
  std::shared_ptr<ModuleLoader> cached;
  if (turbo == nullptr) {
    cached = GetModule(kTurboModuleName, true);
    IModule* instance = cached != nullptr ? cached->Load(u"") : nullptr;
    if (instance != nullptr && (instance->GetFlags() & kModuleFlagSwitch) != 0) {
      module = instance;
      turbo = ToModuleSwitch(instance);
    }
  }
  if (turbo != nullptr) {
    module->SetConsoleView(agent_.console.view());
    if (turbo->GetSwitchState(0, 0, kTurboSwitchParameter) == 1) {
      if (turbo->SetSwitchState(0, kTurboSwitchParameter)) {
        agent_.tray.SetMenuText(kCommandTurbo, TrayText(u"IDS_TURBO_ON").c_str(), false);
      }
    } else if (turbo->SetSwitchState(1, kTurboSwitchParameter)) {
      agent_.tray.SetMenuText(kCommandTurbo, TrayText(u"IDS_TURBO_OFF").c_str(), false);
    }
  }
  if (cached != nullptr) agent_.module_cache.Remove(kTurboModuleName);
}

void CMainFrame::OnCrashTest() {
  const int answer = platform::MessageBox(
      hwnd(), u"Enter Exception?", u"Question",
      platform::MB_OKCANCEL | platform::MB_ICONQUESTION | platform::MB_DEFBUTTON2);
  if (answer != platform::IDOK) return;
  // The 888 Hz beep has no speaker to go to on a Linux desktop.
  static_cast<void>(platform::RunGuarded(&platform::ExecutePrivilegedInstruction,
                                         [](WardexExceptionPointers* pointers) {
                                           return WorkerExceptionFilter(pointers, "Exception Test");
                                         }));
}

}  // namespace wardex
