#include "app/brisko_tray_app.h"

#include "app/autostart.h"
#include "app/wait_settings.h"
#include "config/languages.h"
#include "config/module_path.h"
#include "external/graphics_layer.h"
#include "external/tracking_library.h"
#include "identity/computer_id.h"
#include "modules/module_iterator.h"
#include "modules/process_control.h"
#include "modules/quick_check_request.h"
#include "osal/ka_path.h"
#include "platform/current_directory.h"
#include "platform/system_paths.h"
#include "platform/thread.h"
#include "platform/ui.h"
#include "wardex/crashlog.h"
#include "wardex/kernel_object_names.h"

namespace wardex {
namespace {

using KaOSAL::KaPath;
using KaOSAL::KaString;

// One try, then one on a fresh object, then up to 15 more.
constexpr int kFrameLoadAttempts = 17;

// The modules whose install-time hooks the maintenance switches run, in order.
constexpr const char16_t* kHookedModules[] = {u"HandsetLinkModule", u"HandsetTidyModule",
                                              u"WardexModule"};

bool MatchesAny(const KaString& command_line, const char16_t* const (&switches)[2]) {
  for (const char16_t* item : switches) {
    if (command_line.CompareNoCase(item) == 0) return true;
  }
  return false;
}

// The modules folder: the program's path with "modules" appended as a folder.
KaPath ModulesFolder(const KaString& executable_path) {
  KaPath folder(executable_path);
  folder.AppendDir(u"modules");
  return folder;
}

// LoadFrame on |frame|, made fresh when there is none. The frame's creation
// fails when a plug-in faults in it (the guards are around the plug-ins'
// calls only: a fault in the agent's own code ends the process with its
// crash report). A frame whose window was created and destroyed again has
// been released by the framework with its window, so |frame| is then empty
// and the next try makes a fresh one.
bool TryLoadFrame(std::unique_ptr<CMainFrame>& frame) {
  if (!frame) frame = std::make_unique<CMainFrame>();
  if (frame->Register() != nullptr) return true;
  if (frame->window_destroyed()) frame.reset();
  return false;
}

}  // namespace

StartMode ParseStartMode(const KaString& command_line) {
  if (MatchesAny(command_line, kRegisterSwitches)) return StartMode::kRegister;
  if (MatchesAny(command_line, kUnregisterSwitches)) return StartMode::kUnregister;
  if (MatchesAny(command_line, kSnapCheckSwitches)) return StartMode::kSnapCheck;
  return StartMode::kNormal;
}

CBriskoTrayApp::CBriskoTrayApp() {
  ApplyOperatingSystemLanguage(false);
  InstallCrashHandler();
}

CBriskoTrayApp::~CBriskoTrayApp() { RemoveCrashHandler(); }

bool CBriskoTrayApp::InitInstance(const KaString& command_line) {
  // The working directory is the program's folder.
  executable_path_ = GetExecutablePath();
  if (!executable_path_.IsEmpty()) {
    const KaString folder = KaPath(executable_path_).GetRootAndDir();
    static_cast<void>(platform::SetCurrentDirectory(folder));
    LogW(kLogError, u"WorkingDir: %s", folder.c_str());
  }
  const KaString ignored_root = platform::GetIgnoredMachineRoot();
  if (!ignored_root.IsEmpty()) {
    LogW(kLogError, u"ERROR: WARDEX_ROOT %s is not an absolute path: ignored, the root is /",
         ignored_root.c_str());
  }
  // ActiveX hosting and COM have no counterpart on Linux.
  Graphics().Start();
  Tracking().Start(u"", false, u"", false);
  // The modules folder, then the switches.
  bool show_quick_check = false;
  switch (ParseStartMode(command_line)) {
    case StartMode::kRegister:
      RegisterAll();
      return false;
    case StartMode::kUnregister:
      UnregisterAll();
      return false;
    case StartMode::kSnapCheck:
      LogW(kLogNotable, u"Wardex.exe - SNAPCHECK");
      if (platform::NamedSemaphore::Exists(kSingleInstanceSemaphoreName)) {
        LogW(kLogNotable, u"Wardex.exe - SNAPCHECK - already running - inform");
        SendShowQuickCheckRequest();
        return false;
      }
      show_quick_check = true;
      break;
    case StartMode::kNormal:
      break;
  }

  // Normal start.
  if (platform::NamedSemaphore::Exists(kSingleInstanceSemaphoreName)) {
    LogW(kLogNotable, u"STOP: Process already running");
    return true;
  }
  // Two starts at the same instant may both pass the check above; the one
  // that loses the race to create the semaphore runs too, as it always did.
  instance_semaphore_ = platform::NamedSemaphore::Create(kSingleInstanceSemaphoreName);
  if (!LoadMainFrame()) return false;
  platform::SetMainWindow(main_frame_->hwnd());
  // The request travels through the pipe server that the frame has just
  // established, so the agent answers it as it answers a second start's.
  if (show_quick_check) SendShowQuickCheckRequest();
  return true;
}

bool CBriskoTrayApp::LoadMainFrame() {
  for (int attempt = 1; attempt <= kFrameLoadAttempts; ++attempt) {
    if (attempt > 1) platform::SleepMilliseconds(FrameLoadRetryWaitMs());
    // The second try is made on a fresh object.
    if (attempt == 2) main_frame_.reset();
    if (TryLoadFrame(main_frame_)) return true;
    if (attempt == 1) LogW(kLogError, u"ERROR: LoadFrame failed - try for one minute");
  }
  return false;
}

void CBriskoTrayApp::RegisterAll() {
  // Run by the installer as root, this stores the base identifier in the
  // machine's places, which only root may write and every user reads.
  static_cast<void>(GetBaseComputerID());
  CModuleIterator modules(ModulesFolder(executable_path_));
  for (const char16_t* name : kHookedModules) static_cast<void>(modules.RegisterModules(name));
  const KaString entry = AutostartEntryName();
  static_cast<void>(InstallAutostart(entry, entry));
}

void CBriskoTrayApp::UnregisterAll() {
  // This installation's other running agents close first (forcibly after
  // the grace time); programs of the same name elsewhere are not ours.
  const KaString image_name = KaPath(executable_path_).GetFileNameAndExt();
  if (IsProcessRunning(image_name, executable_path_, true, nullptr)) {
    CloseProcessesByName(image_name, executable_path_, 0, kUnregisterCloseGraceMs);
  }
  CModuleIterator modules(ModulesFolder(executable_path_));
  for (const char16_t* name : kHookedModules) static_cast<void>(modules.UnregisterModules(name));
  static_cast<void>(RemoveAutostart(AutostartEntryName()));
}

int CBriskoTrayApp::ExitInstance() {
  main_frame_.reset();
  Tracking().Release();
  Graphics().Stop();
  return 0;
}

}  // namespace wardex
