#include "app/main_frame.h"

#include <chrono>
#include <utility>

#include "app/tray_texts.h"
#include "app/wait_settings.h"
#include "config/install_config.h"
#include "config/module_path.h"
#include "config/registry_settings.h"
#include "external/tracking_library.h"
#include "identity/computer_id.h"
#include "platform/named_objects.h"
#include "platform/seh_guard.h"
#include "platform/thread.h"
#include "wardex/crashlog.h"
#include "wardex/kernel_object_names.h"
#include "wardex/quick_check.h"

namespace wardex {
namespace {

using KaOSAL::KaPath;
using KaOSAL::KaString;

constexpr int kTrayIconRetries = 20;
// How long the news check waits for the creation sequence (51 polls of 100 ms).
constexpr auto kCreationWait = std::chrono::milliseconds(5100);
// The guard of the frame's load, whose name the crash reports carry.
constexpr char kLoadFrameGuard[] = "CBriskoTrayApp::LoadFrame";

bool IsSignaled(platform::NamedEvent& event) {
  return event.Wait(0) == platform::WaitResult::kSignaled;
}

}  // namespace

CMainFrame::CMainFrame() : agent_(*this, *this) {
  frame_thread_.Bind();
  // The graphics layer and the tracking library are started by agent_.libraries.
  starter_path_ = KaPath(GetExecutablePath());
  starter_path_.SetFileNameAndExt(ReadInstallConfig(u"INSTALL", u"STARTEREXE", u"briskostart.exe"));
  agent_.pipe_server.LoadLibrary();
  // The computer identifier for the crash reports.
  SetComputerId(GetComputerID().c_str());
}

platform::LRESULT CMainFrame::WindowProc(platform::UINT message, platform::WPARAM wparam,
                                         platform::LPARAM lparam) {
  static_cast<void>(lparam);
  switch (message) {
    case platform::WM_CREATE:
      return OnCreate();
    case platform::WM_CLOSE:
      OnClose();
      return 0;
    case platform::WM_DESTROY:
      // The framework ends the message loop with its main window.
      window_destroyed_ = true;
      if (platform::GetMainWindow() == hwnd()) {
        platform::SetMainWindow(nullptr);
        platform::PostQuitMessage(0);
      }
      return 0;
    case platform::WM_TIMER:
      OnTimer(wparam);
      return 0;
    case platform::WM_COMMAND:
      OnCommand(platform::LowWord(wparam));
      return 0;
    case kShowSnapCheckMessage:
      return ShowSnapCheck(kSnapCheckFromMessage);
    case kMenuAboutToOpenMessage:
      RefreshMenu();
      return 0;
    case kRunConsoleScheduledMessage:
      if (IHostedConsole* hosted = agent_.console.hosted()) hosted->RunScheduled();
      return 0;
    default:
      return 0;
  }
}

platform::LRESULT CMainFrame::OnCreate() {
  LogW(kLogTrace, u"Tray ### On Create MainFrame");
  window_.store(hwnd());
  // The frame is never mapped, so no taskbar or task switcher lists it.
  agent_.tray_image.handle = platform::LoadIconImage(platform::IDI_TRAYICON);
  CreateTrayIcon();
  // A plug-in that faults while these come up fails the creation, which is
  // tried again on a fresh frame.
  if (!CreateConsole() || !EstablishPipeServer() || !LoadFrameModules()) return -1;
  StartNewsfeedCheck();
  LogW(kLogTrace, u"Tray ### On Create MainFrame Build menu");
  if (!BuildMenu()) return -1;
  CountStart();
  LogW(kLogTrace, u"Tray ### On Create MainFrame done");
  {
    std::lock_guard hold(creation_lock_);
    creation_finished_ = true;
  }
  creation_changed_.notify_all();
  return 0;
}

bool CMainFrame::CreationCall(const std::function<void()>& call) {
  creation_faulted_ = !platform::RunGuarded(call, [](WardexExceptionPointers* pointers) {
    return WorkerExceptionFilter(pointers, kLoadFrameGuard);
  });
  return !creation_faulted_;
}

void CMainFrame::CreateTrayIcon() {
  const KaString tooltip = TrayText(u"IDS_WARDEX_TRAY_TOOLTIP");
  LogW(kLogTrace, u"Tray ### Create TrayIcon");
  auto create = [&] {
    return agent_.tray.Create(nullptr, kTrayNotifyMessage, tooltip.c_str(),
                              agent_.tray_image.handle, platform::IDR_MAINFRAME, false);
  };
  bool created = create();
  for (int retry = 0; !created && retry < kTrayIconRetries; ++retry) {
    platform::SleepMilliseconds(TrayIconRetryWaitMs());
    created = create();
  }
  agent_.tray.SetMenuOpeningWindow(hwnd());
  // A panel may come a little after the agent at logon: one more retry wait.
  platform::SetTimer(hwnd(), kTrayHostCheckTimerId, TrayIconRetryWaitMs());
}

bool CMainFrame::CreateConsole() {
  LogW(kLogTrace, u"Tray ### Create Console");
  agent_.console.LoadLibrary();
  return CreationCall([this] {
    static_cast<void>(agent_.console.CreateView(reinterpret_cast<WindowHandle>(hwnd()), this));
  });
}

bool CMainFrame::EstablishPipeServer() {
  LogW(kLogTrace, u"Tray ### establish pipe Server");
  if (!CreationCall([this] { agent_.pipe_server.Start(GetIpcChannelName()); })) return false;
  LogW(kLogTrace, u"Tray ### establish pipe Server DONE");
  return true;
}

bool CMainFrame::LoadFrameModule(FrameModule& module, const char16_t* name) {
  module.LoadLibrary(name);
  return CreationCall([&module] { static_cast<void>(module.CreateInstance()); });
}

bool CMainFrame::LoadFrameModules() {
  WARDEX_DCHECK_ON_THREAD(frame_thread_);
  IConsoleView* const console_view = agent_.console.view();
  if (!LoadFrameModule(agent_.handset_link, u"HandsetLinkModule")) return false;
  if (IModule* handset_link = agent_.handset_link.instance()) {
    if (!CreationCall([handset_link] { handset_link->StartMonitoring(0, 0); })) return false;
  }

  LogW(kLogTrace, u"Tray ### etablish WardexModule monitoring");
  if (!LoadFrameModule(agent_.wardex, u"WardexModule")) return false;
  if (IModule* wardex = agent_.wardex.instance()) {
    if (!CreationCall([wardex, console_view] {
          wardex->StartMonitoring(0, 0);
          wardex->SetConsoleView(console_view);
        })) {
      return false;
    }
    LogW(kLogTrace, u"Tray ### etablish WardexModule monitoring done");
  } else {
    LogW(kLogError, u"Tray ### error loading WardexModule");
  }

  LogW(kLogTrace, u"Tray ### etablish snapcheck");
  if (!LoadFrameModule(agent_.snapcheck, u"SnapCheckModule")) return false;
  LogW(kLogTrace, u"Tray ### etablish snapcheck done");

  LogW(kLogTrace, u"Tray ### etablish turbo");
  if (!LoadFrameModule(agent_.turbo, u"TurboModule")) return false;
  if (IModule* turbo = agent_.turbo.instance()) {
    // Only a module that says it is a switch has the switch part to convert to.
    if (!CreationCall([this, turbo, console_view] {
          turbo->SetConsoleView(console_view);
          agent_.turbo.KeepSwitchPart();
        })) {
      return false;
    }
  }
  LogW(kLogTrace, u"Tray ### etablish turbo done");
  return true;
}

void CMainFrame::StartNewsfeedCheck() {
  LogW(kLogTrace, u"Tray ### start newsfeed check");
  agent_.newsfeed.Start();
}

bool CMainFrame::WaitForCreation(std::stop_token stop) {
  std::unique_lock hold(creation_lock_);
  return creation_changed_.wait_for(hold, stop, kCreationWait,
                                    [this] { return creation_finished_; });
}

bool CMainFrame::ShowNewsItem(const NewsItem& item) {
  const ConsoleAccess::Use console = agent_.console_access.Enter();
  return console && console->ShowNewsfeed(item);
}

void CMainFrame::CountStart() {
  CRegistrySettings settings;
  const uint32_t count = settings.ReadDWord(u"Tray_StartCount", 0);
  static_cast<void>(settings.WriteDWord(u"Tray_StartCount", count + 1));
}

bool CMainFrame::BuildMenu() {
  WARDEX_DCHECK_ON_THREAD(frame_thread_);
  CSystemTray& tray = agent_.tray;
  // The start entry; a lone ampersand between blanks is shown, not taken
  // as a mnemonic.
  KaString start = FormatStartEntry(ReadProductName());
  start.Replace(u" & ", u" && ");
  tray.SetMenuText(kMenuPositionStart, start.c_str());
  // The SnapCheck module names its entry.
  if (IModule* snapcheck = agent_.snapcheck.instance()) {
    std::u16string caption;
    if (!CreationCall([snapcheck, &caption] {
          const int32_t length = snapcheck->GetMenuText(nullptr, 0);
          if (length <= 0) return;
          caption.assign(static_cast<size_t>(length) + 1, u'\0');
          snapcheck->GetMenuText(caption.data(), length + 1);
        })) {
      return false;
    }
    if (!caption.empty()) tray.SetMenuText(kMenuPositionSnapCheck, caption.c_str());
  }
  // The last notification, available only when there is one (0x1991).
  tray.SetMenuText(kMenuPositionLastNotification, TrayText(u"IDS_STRING_LASTNOTIFICATION").c_str());
  tray.EnableMenuItem(kCommandLastNotification, false);
  tray.SetMenuText(kCommandTurbo, TrayText(u"IDS_TURBO_ON").c_str(), false);
  tray.SetMenuText(kMenuPositionSettings, TrayText(u"IDS_STRING_OPTIONS").c_str());
  tray.SetMenuText(kMenuPositionInfo, TrayText(u"IDS_STRING_INFO").c_str());
  tray.SetMenuText(kMenuPositionExit, TrayText(u"IDS_STRING_EXIT").c_str());
  tray.SetMenuDefaultItem(kMenuPositionStart, true);
  // Entries of missing modules go; the Turbo entry stays.
  if (agent_.wardex.instance() == nullptr) {
    tray.DeleteMenuItem(kCommandSettings);
    tray.DeleteMenuItem(kCommandLastNotification);
  }
  if (agent_.snapcheck.instance() == nullptr) tray.DeleteMenuItem(kCommandSnapCheck);
  return true;
}

void CMainFrame::RefreshMenu() {
  WARDEX_DCHECK_ON_THREAD(frame_thread_);
  if (IModuleSwitch* turbo = agent_.turbo.switch_part()) {
    const bool off = turbo->GetSwitchState(0, 0, kTurboSwitchParameter) == 0;
    agent_.tray.SetMenuText(kCommandTurbo,
                            TrayText(off ? u"IDS_TURBO_ON" : u"IDS_TURBO_OFF").c_str(), false);
  }
  if (agent_.wardex.instance() != nullptr) {
    std::unique_ptr<platform::NamedEvent> event =
        platform::NamedEvent::Create(kLastNotificationEventName, false);
    agent_.tray.EnableMenuItem(kCommandLastNotification, event != nullptr && IsSignaled(*event));
  }
}

void CMainFrame::OnClose() {
  WARDEX_DCHECK_ON_THREAD(frame_thread_);
  LogW(kLogTrace, u"TRAY ### Closing...");
  LogW(kLogTrace, u"TRAY ### Stop HandsetLink");
  if (IModule* handset_link = agent_.handset_link.instance()) handset_link->StopMonitoring();
  LogW(kLogTrace, u"TRAY ### Remove Icon");
  agent_.tray.RemoveIcon();
  // The framework's close: the window goes and the message loop ends; the
  // frame object is deleted once the loop has returned (ExitInstance).
  Destroy();
}

void CMainFrame::OnTimer(platform::UINT_PTR id) {
  platform::KillTimer(hwnd(), id);
  // The busy icon stays while a pipe message is handled.
  if (id == icon_reset_timer_id_ && agent_.pipe_server.running_callbacks() == 0) {
    agent_.tray.SetIcon(platform::IDI_TRAYICON);
  }
  if (id == kTrayHostCheckTimerId && !platform::HasTrayHost()) {
    LogW(kLogNotable,
         u"Tray ### no tray host on this desktop: the tray menu's commands are in the quick-check "
         u"window (the desktop's Wardex entry, wardex -snapcheck)");
  }
}

std::shared_ptr<ModuleLoader> CMainFrame::GetModule(KaString name, bool load_if_missing) {
  return agent_.module_cache.GetModule(std::move(name), load_if_missing);
}

platform::LRESULT CMainFrame::ShowSnapCheck(int source) {
  WARDEX_DCHECK_ON_THREAD(frame_thread_);
  IConsoleView* console_view = agent_.console.view();
  if (console_view == nullptr) {
    LogW(kLogError, u"Wardex.exe ## ERROR ## ShowSnapCheck - no console");
    return 0;
  }
  LogW(kLogNotable, u"Wardex.exe ## ShowSnapCheck");
  IModule* snapcheck = agent_.snapcheck.instance();
  if (snapcheck == nullptr) {
    LogW(kLogError, u"Wardex.exe ## ERROR ## ShowSnapCheck - no SnapCheckModule");
    return 0;
  }
  KaString label = u"FROM_MENU";
  if (source != kSnapCheckFromMenu) {
    CRegistrySettings settings;
    label = settings.ReadInt(u"SC_WAITTOSTART", 0) == -1 ? u"FROM_WARDEX" : u"FROM_DESKTOP";
  }
  Tracking().Event(u"TRAY", u"SHOW_SNAPCHECK", label, u"", u"", 0);

  ISnapCheckControl* control = GetQuickCheckControl(snapcheck);
  IModuleWindow* window = control != nullptr ? control->GetWindow(0) : nullptr;
  auto* view = dynamic_cast<IConsoleView*>(window);
  if (view == nullptr) {
    LogW(kLogError, u"Wardex # ERROR # Casting SnapcheckGUIDCtrl to ConsoleView failed.");
    return 0;
  }
  agent_.snapcheck_view = console_view->ShowModuleView(view, 1);
  return 0;
}

}  // namespace wardex
