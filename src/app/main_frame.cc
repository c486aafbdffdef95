#include "app/main_frame.h"

#include <utility>

#include "app/newsfeed_thread.h"
#include "app/tray_texts.h"
#include "app/wait_settings.h"
#include "config/install_config.h"
#include "config/module_path.h"
#include "config/registry_settings.h"
#include "external/graphics_layer.h"
#include "external/tracking_library.h"
#include "identity/computer_id.h"
#include "platform/named_objects.h"
#include "platform/thread.h"
#include "wardex/crashlog.h"
#include "wardex/kernel_object_names.h"
#include "wardex/quick_check.h"

namespace wardex {
namespace {

using KaOSAL::KaPath;
using KaOSAL::KaString;

constexpr int kTrayIconRetries = 20;
constexpr uint32_t kCallbackPollMs = 100;

// The program's own full path.
KaPath ExecutablePath() { return KaPath(GetExecutablePath()); }

// The module |name| in its folder under "modules" beside the program.
KaString FrameModulePath(const char16_t* name) {
  return ModuleLibraryPath(ExecutablePath(), name).ToString();
}

bool IsSignaled(platform::NamedEvent& event) {
  return event.Wait(0) == platform::WaitResult::kSignaled;
}

}  // namespace

CMainFrame::CMainFrame() {
  frame_thread_.Bind();
  // 1. The members are constructed; the tray icon holds no icon yet.
  // 2. One more reference on the graphics layer.
  Graphics().Start();
  // 3. The tracking library, with the edition's category.
  const KaString module = ReadInstallConfig(u"install", u"Module", u"bk_free");
  const KaString category = module.Find(u"_free") >= 0 ? u"TRAY FREE" : u"TRAY";
  Tracking().Start(category, true, u"", false);
  // 4. The suite's starter beside the agent.
  starter_path_ = ExecutablePath();
  starter_path_.SetFileNameAndExt(ReadInstallConfig(u"INSTALL", u"STARTEREXE", u"briskostart.exe"));
  // 5. The IPC library.
  ipc_loader_ = std::make_unique<IpcLoader>(IpcLoader::GetLibraryPath().ToString());
  // 6. The computer identifier for the crash reports.
  SetComputerId(GetComputerID().c_str());
}

CMainFrame::~CMainFrame() {
  // The news check ends its request while the steps before its own run: it
  // must not wait out a network time-out, nor reach a Console being released.
  if (newsfeed_thread_) newsfeed_thread_->RequestStop();
  // 1. The Wardex and Turbo modules.
  wardex_loader_.Unload();
  wardex_module_ = nullptr;
  turbo_loader_.Unload();
  turbo_switch_ = nullptr;
  // 2. The Console, once no pipe thread is inside it. Taking its host back
  // first ends its waits for its process, so no thread waits there for a
  // window. Cached modules that were handed its view by a switch request let
  // go of it: pipe callbacks still reach them until step 6.
  auto* hosted = dynamic_cast<IHostedConsole*>(console_view_);
  if (hosted != nullptr) hosted->SetConsoleHost(nullptr);
  {
    std::unique_lock hold(console_lock_);
    for (const auto& [name, loader] : module_cache_.Snapshot()) {
      IModule* module = loader->instance();
      if (module != nullptr && (module->GetFlags() & kModuleFlagSwitch) != 0) {
        module->SetConsoleView(nullptr);
      }
    }
    console_loader_.Release();
    console_view_ = nullptr;
  }
  // 3. The SnapCheck module, once its view is withdrawn.
  snapcheck_view_.Reset();
  snapcheck_loader_.Unload();
  snapcheck_module_ = nullptr;
  // 4. The HandsetLink module.
  if (handset_link_ != nullptr) handset_link_->StopMonitoring();
  handset_link_ = nullptr;
  if (handset_link_loader_) handset_link_loader_->Unload();
  handset_link_loader_.reset();
  // 5. The news-feed thread, waited for.
  if (newsfeed_thread_) newsfeed_thread_->Stop(1, platform::kInfinite);
  newsfeed_thread_.reset();
  // 6. No new pipe callbacks; the cached modules' tasks stop; the running
  // callbacks finish.
  stopping_.store(1);
  for (const auto& [name, loader] : module_cache_.Snapshot()) {
    IModule* module = loader->instance();
    if (module == nullptr || (module->GetFlags() & kModuleFlagRunsTasks) == 0) continue;
    // A module's exception must not end the agent before the steps that follow.
    try {
      module->StopTask(1);
    } catch (...) {
      LogW(kLogNotable, u"Tray ### StopTask of %s threw; ignored", name.c_str());
    }
  }
  while (running_callbacks_.load() != 0) platform::SleepMilliseconds(kCallbackPollMs);
  // 7. The pipe server and the IPC library.
  if (ipc_loader_) ipc_loader_->DestroyServer();
  ipc_server_ = nullptr;
  ipc_loader_.reset();
  // 8. The cached modules.
  module_cache_.Clear();
  // 9. The tracking library and the graphics layer.
  Tracking().Release();
  Graphics().Stop();
  // 10. The remaining members go in reverse order; the tray icon's image
  // outlives the tray that shows it.
  tray_icon_.DestroyWindow();
  if (tray_icon_image_ != nullptr) platform::DestroyIcon(tray_icon_image_);
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
      if (auto* hosted = dynamic_cast<IHostedConsole*>(console_view_)) hosted->RunScheduled();
      return 0;
    default:
      return 0;
  }
}

platform::LRESULT CMainFrame::OnCreate() {
  // 1.
  LogW(kLogTrace, u"Tray ### On Create MainFrame");
  window_.store(hwnd());
  // 2. The framework's part of the creation is the window's registration,
  // which has succeeded once WM_CREATE arrives.
  // 3. The frame is never mapped, so no taskbar or task switcher lists it.
  // 4. The tray icon's image.
  tray_icon_image_ = platform::LoadIconImage(platform::IDI_TRAYICON);
  // 5., 6.
  CreateTrayIcon();
  // 7.
  CreateConsole();
  // 8.
  EstablishPipeServer();
  // 9.
  LoadFrameModules();
  // 10.
  StartNewsfeedCheck();
  // 11.
  LogW(kLogTrace, u"Tray ### On Create MainFrame Build menu");
  BuildMenu();
  // 12.
  CountStart();
  // 13.
  LogW(kLogTrace, u"Tray ### On Create MainFrame done");
  creation_finished_.store(true);
  return 0;
}

void CMainFrame::CreateTrayIcon() {
  const KaString tooltip = TrayText(u"IDS_WARDEX_TRAY_TOOLTIP");
  LogW(kLogTrace, u"Tray ### Create TrayIcon");
  auto create = [&] {
    return tray_icon_.Create(nullptr, kTrayNotifyMessage, tooltip.c_str(), tray_icon_image_,
                             platform::IDR_MAINFRAME, false);
  };
  bool created = create();
  for (int retry = 0; !created && retry < kTrayIconRetries; ++retry) {
    platform::SleepMilliseconds(TrayIconRetryWaitMs());
    created = create();
  }
  tray_icon_.SetMenuOpeningWindow(hwnd());
  SetPipeMessageTarget(this);
  // A panel may come a little after the agent at logon: one more retry wait.
  platform::SetTimer(hwnd(), kTrayHostCheckTimerId, TrayIconRetryWaitMs());
}

void CMainFrame::CreateConsole() {
  LogW(kLogTrace, u"Tray ### Create Console");
  console_view_ = console_loader_.Create();
  if (console_view_ != nullptr) {
    console_view_->SetOwnerWindow(reinterpret_cast<WindowHandle>(hwnd()));
    if (auto* hosted = dynamic_cast<IHostedConsole*>(console_view_)) hosted->SetConsoleHost(this);
  }
}

void CMainFrame::EstablishPipeServer() {
  LogW(kLogTrace, u"Tray ### establish pipe Server");
  if (ipc_loader_) {
    ipc_server_ = ipc_loader_->CreateServer();
    if (ipc_server_ != nullptr) {
      static_cast<void>(
          ipc_server_->StartListening(GetIpcChannelName().c_str(), PipeMessageCallback, 0));
    }
  }
  LogW(kLogTrace, u"Tray ### establish pipe Server DONE");
}

void CMainFrame::LoadFrameModules() {
  WARDEX_DCHECK_ON_THREAD(frame_thread_);
  handset_link_loader_ = std::make_unique<ModuleLoader>();
  handset_link_ = handset_link_loader_->Load(FrameModulePath(u"HandsetLinkModule"));
  if (handset_link_ != nullptr) handset_link_->StartMonitoring(0, 0);

  LogW(kLogTrace, u"Tray ### etablish WardexModule monitoring");
  wardex_module_ = wardex_loader_.Load(FrameModulePath(u"WardexModule"));
  if (wardex_module_ != nullptr) {
    wardex_module_->StartMonitoring(0, 0);
    wardex_module_->SetConsoleView(console_view_);
    LogW(kLogTrace, u"Tray ### etablish WardexModule monitoring done");
  } else {
    LogW(kLogError, u"Tray ### error loading WardexModule");
  }

  LogW(kLogTrace, u"Tray ### etablish snapcheck");
  snapcheck_module_ = snapcheck_loader_.Load(FrameModulePath(u"SnapCheckModule"));
  LogW(kLogTrace, u"Tray ### etablish snapcheck done");

  LogW(kLogTrace, u"Tray ### etablish turbo");
  IModule* turbo = turbo_loader_.Load(FrameModulePath(u"TurboModule"));
  if (turbo != nullptr) {
    turbo->SetConsoleView(console_view_);
    // Only a module that says it is a switch has the switch part to convert to.
    if ((turbo->GetFlags() & kModuleFlagSwitch) != 0) turbo_switch_ = ToModuleSwitch(turbo);
  }
  LogW(kLogTrace, u"Tray ### etablish turbo done");
}

void CMainFrame::StartNewsfeedCheck() {
  LogW(kLogTrace, u"Tray ### start newsfeed check");
  if (newsfeed_thread_) return;
  newsfeed_thread_ =
      std::make_unique<CWorkerThread>(&LoadNewsfeedThreadProc, static_cast<ThreadParam*>(this),
                                      &WorkerExceptionFilter, kNewsfeedThreadName);
  if (newsfeed_thread_->Start()) {
    static_cast<void>(newsfeed_thread_->SetPriority(platform::kThreadPriorityBelowNormal));
  }
}

bool CMainFrame::newsfeed_stop_requested() const {
  return newsfeed_thread_ && newsfeed_thread_->stop_mark() == CWorkerThread::kMarkRunning;
}

bool CMainFrame::ShowNewsfeed(NewsItem item) {
  std::shared_lock hold(console_lock_);
  return console_view_ != nullptr && console_view_->ShowNewsfeed(std::move(item));
}

void CMainFrame::CountStart() {
  CRegistrySettings settings;
  const uint32_t count = settings.ReadDWord(u"Tray_StartCount", 0);
  static_cast<void>(settings.WriteDWord(u"Tray_StartCount", count + 1));
}

void CMainFrame::BuildMenu() {
  WARDEX_DCHECK_ON_THREAD(frame_thread_);
  // 1. The start entry; a lone ampersand between blanks is shown, not taken
  // as a mnemonic.
  KaString start = FormatStartEntry(ReadProductName());
  start.Replace(u" & ", u" && ");
  tray_icon_.SetMenuText(kMenuPositionStart, start.c_str());
  // 2. The SnapCheck module names its entry.
  if (snapcheck_module_ != nullptr) {
    const int32_t length = snapcheck_module_->GetMenuText(nullptr, 0);
    if (length > 0) {
      std::u16string caption(static_cast<size_t>(length) + 1, u'\0');
      snapcheck_module_->GetMenuText(caption.data(), length + 1);
      tray_icon_.SetMenuText(kMenuPositionSnapCheck, caption.c_str());
    }
  }
  // 3. The last notification, available only when there is one (0x1991).
  tray_icon_.SetMenuText(kMenuPositionLastNotification,
                         TrayText(u"IDS_STRING_LASTNOTIFICATION").c_str());
  tray_icon_.EnableMenuItem(kCommandLastNotification, false);
  // 4.
  tray_icon_.SetMenuText(kCommandTurbo, TrayText(u"IDS_TURBO_ON").c_str(), false);
  tray_icon_.SetMenuText(kMenuPositionSettings, TrayText(u"IDS_STRING_OPTIONS").c_str());
  tray_icon_.SetMenuText(kMenuPositionInfo, TrayText(u"IDS_STRING_INFO").c_str());
  tray_icon_.SetMenuText(kMenuPositionExit, TrayText(u"IDS_STRING_EXIT").c_str());
  // 5.
  tray_icon_.SetMenuDefaultItem(kMenuPositionStart, true);
  // 6. Entries of missing modules go; the Turbo entry stays.
  if (wardex_module_ == nullptr) {
    tray_icon_.DeleteMenuItem(kCommandSettings);
    tray_icon_.DeleteMenuItem(kCommandLastNotification);
  }
  if (snapcheck_module_ == nullptr) tray_icon_.DeleteMenuItem(kCommandSnapCheck);
}

void CMainFrame::RefreshMenu() {
  WARDEX_DCHECK_ON_THREAD(frame_thread_);
  if (turbo_switch_ != nullptr) {
    const bool off = turbo_switch_->GetSwitchState(0, 0, kTurboSwitchParameter) == 0;
    tray_icon_.SetMenuText(kCommandTurbo,
                           TrayText(off ? u"IDS_TURBO_ON" : u"IDS_TURBO_OFF").c_str(), false);
  }
  if (wardex_module_ != nullptr) {
    std::unique_ptr<platform::NamedEvent> event =
        platform::NamedEvent::Create(kLastNotificationEventName, false);
    tray_icon_.EnableMenuItem(kCommandLastNotification, event != nullptr && IsSignaled(*event));
  }
}

void CMainFrame::OnClose() {
  WARDEX_DCHECK_ON_THREAD(frame_thread_);
  LogW(kLogTrace, u"TRAY ### Closing...");
  LogW(kLogTrace, u"TRAY ### Stop HandsetLink");
  if (handset_link_ != nullptr) handset_link_->StopMonitoring();
  LogW(kLogTrace, u"TRAY ### Remove Icon");
  tray_icon_.RemoveIcon();
  // The framework's close: the window goes and the message loop ends; the
  // frame object is deleted once the loop has returned (ExitInstance).
  Destroy();
}

void CMainFrame::OnTimer(platform::UINT_PTR id) {
  platform::KillTimer(hwnd(), id);
  // The busy icon stays while a pipe message is handled.
  if (id == icon_reset_timer_id_ && running_callbacks_.load() == 0) {
    tray_icon_.SetIcon(platform::IDI_TRAYICON);
  }
  if (id == kTrayHostCheckTimerId && !platform::HasTrayHost()) {
    LogW(kLogNotable,
         u"Tray ### no tray host on this desktop: the tray menu's commands are in the quick-check "
         u"window (the desktop's Wardex entry, wardex -snapcheck)");
  }
}

std::shared_ptr<ModuleLoader> CMainFrame::GetModule(KaString name, bool load_if_missing) {
  return module_cache_.GetModule(std::move(name), load_if_missing);
}

platform::LRESULT CMainFrame::ShowSnapCheck(int source) {
  WARDEX_DCHECK_ON_THREAD(frame_thread_);
  if (console_view_ == nullptr) {
    LogW(kLogError, u"Wardex.exe ## ERROR ## ShowSnapCheck - no console");
    return 0;
  }
  LogW(kLogNotable, u"Wardex.exe ## ShowSnapCheck");
  if (snapcheck_module_ == nullptr) {
    LogW(kLogError, u"Wardex.exe ## ERROR ## ShowSnapCheck - no SnapCheckModule");
    return 0;
  }
  KaString label = u"FROM_MENU";
  if (source != kSnapCheckFromMenu) {
    CRegistrySettings settings;
    label = settings.ReadInt(u"SC_WAITTOSTART", 0) == -1 ? u"FROM_WARDEX" : u"FROM_DESKTOP";
  }
  Tracking().Event(u"TRAY", u"SHOW_SNAPCHECK", label, u"", u"", 0);

  ISnapCheckControl* control = GetQuickCheckControl(snapcheck_module_);
  IModuleWindow* window = control != nullptr ? control->GetWindow(0) : nullptr;
  auto* view = dynamic_cast<IConsoleView*>(window);
  if (view == nullptr) {
    LogW(kLogError, u"Wardex # ERROR # Casting SnapcheckGUIDCtrl to ConsoleView failed.");
    return 0;
  }
  snapcheck_view_ = console_view_->ShowModuleView(view, 1);
  return 0;
}

}  // namespace wardex
