// CMainFrame: the agent's one top-level window. It is never shown; it owns
// everything that lives as long as the agent runs (tray icon, Console, pipe
// server, modules, news-feed thread) and receives, on the user-interface
// thread, the tray menu's commands, its timer and the private messages. Pipe
// messages reach it on the IPC library's threads (HandlePipeMessage).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <shared_mutex>

#include "app/system_tray.h"
#include "app/thread_param.h"
#include "modules/console_loader.h"
#include "modules/ipc_loader.h"
#include "modules/module_cache.h"
#include "modules/module_loader.h"
#include "modules/module_message.h"
#include "modules/pipe_callback.h"
#include "online/worker_thread.h"
#include "osal/ka_path.h"
#include "platform/resources.h"
#include "platform/ui.h"
#include "wardex/console_host.h"
#include "wardex/console_view.h"
#include "wardex/ipc.h"
#include "wardex/module.h"
#include "wardex/module_view.h"
#include "wardex/thread_check.h"

namespace wardex {

// Private messages: show the quick-check view (WM_USER + 102) and "the tray
// menu is about to open" (sent by the tray icon).
inline constexpr platform::UINT kShowSnapCheckMessage = platform::WM_USER + 102;
inline constexpr platform::UINT kMenuAboutToOpenMessage = CSystemTray::kMenuAboutToOpen;
// The Console asked to run what it scheduled on the frame's thread.
inline constexpr platform::UINT kRunConsoleScheduledMessage = platform::WM_USER + 103;
// The tray icon's callback message.
inline constexpr platform::UINT kTrayNotifyMessage = 0x800A;

// Tray menu commands.
inline constexpr uint32_t kCommandStartSuite = 0x8010;
inline constexpr uint32_t kCommandClose = 0x8012;
inline constexpr uint32_t kCommandSettings = 0x8015;
inline constexpr uint32_t kCommandInfo = 0x8016;
inline constexpr uint32_t kCommandSnapCheck = 0x8017;
inline constexpr uint32_t kCommandTurbo = 0x8018;
inline constexpr uint32_t kCommandLastNotification = 0x8019;
// Commands without a menu entry, which only another program sends.
inline constexpr uint32_t kCommandShowIcon = 0x8006;
inline constexpr uint32_t kCommandHideIcon = 0x8007;
inline constexpr uint32_t kCommandReAddIcon = 0x8008;
inline constexpr uint32_t kCommandIconFocus = 0x800A;
inline constexpr uint32_t kCommandShowFrame = 0x800C;
inline constexpr uint32_t kCommandHideFrame = 0x800D;
inline constexpr uint32_t kCommandCrashTest = 0x8014;

// Tray menu positions. The Turbo item is addressed by its command instead:
// once the items of absent modules are deleted, position 3 is another item.
inline constexpr platform::UINT kMenuPositionStart = 0;
inline constexpr platform::UINT kMenuPositionSnapCheck = 1;
inline constexpr platform::UINT kMenuPositionLastNotification = 2;
inline constexpr platform::UINT kMenuPositionSettings = 4;
inline constexpr platform::UINT kMenuPositionInfo = 6;
inline constexpr platform::UINT kMenuPositionExit = 7;

// The Turbo module's switch parameter of the menu command and refresh.
inline constexpr int32_t kTurboSwitchParameter = 2;

// Where ShowSnapCheck was asked from.
enum SnapCheckSource : int { kSnapCheckFromMessage = 0, kSnapCheckFromMenu = 1 };

class CMainFrame : public platform::Window,
                   public ThreadParam,
                   public PipeMessageTarget,
                   public IConsoleHost {
 public:
  CMainFrame();
  ~CMainFrame() override;

  platform::LRESULT WindowProc(platform::UINT message, platform::WPARAM wparam,
                               platform::LPARAM lparam) override;

  // The module cache lookup: the cached loader of |name|, loading the module
  // when |load_if_missing| is set. Hold it while calling into the module.
  std::shared_ptr<ModuleLoader> GetModule(KaOSAL::KaString name, bool load_if_missing);

  // Shows the SnapCheck module's quick-check view in the Console.
  platform::LRESULT ShowSnapCheck(int source);

  // Acts on a decoded pipe message by its kind; runs on the IPC library's
  // threads.
  void HandlePipeMessage(ModuleMessage& message) override;

  // The Console's host (main_frame_console.cc).
  AgentDescription DescribeAgent() override;
  AgentSettings ReadSettings() override;
  bool WriteSettings(const AgentSettings& settings) override;
  std::vector<ConsoleMenuEntry> MenuEntries() override;
  KaOSAL::KaString ConsoleText(const char16_t* key) override;
  void RunMenuCommand(uint32_t command) override;
  void ScheduleOnFrame() override;

  // For the news-feed thread: the creation sequence has finished; the frame
  // asked the thread to stop; the item handed to the console view, true when
  // it showed it (false without a view).
  [[nodiscard]] bool creation_finished() const { return creation_finished_.load(); }
  [[nodiscard]] bool newsfeed_stop_requested() const;
  bool ShowNewsfeed(NewsItem item);

  // True once WM_DESTROY arrived: the window is gone.
  [[nodiscard]] bool window_destroyed() const { return window_destroyed_; }

 private:
  static constexpr platform::UINT_PTR kIconResetTimerDelayMs = 2000;

  // The creation sequence (WM_CREATE); 0 or -1.
  platform::LRESULT OnCreate();
  void CreateTrayIcon();
  void CreateConsole();
  void EstablishPipeServer();
  void LoadFrameModules();
  void StartNewsfeedCheck();
  void CountStart();
  // Tray menu texts and entries (creation step 11).
  void BuildMenu();
  // Before the menu opens (0x1991): the Turbo and last-notification entries.
  void RefreshMenu();
  void OnClose();
  void OnTimer(platform::UINT_PTR id);
  void OnCommand(uint32_t command);

  // Tray menu commands (main_frame_commands.cc).
  void OnStartSuite();
  void OnLastNotification();
  void OnSwitchTurbo();
  void OnCrashTest();

  // Pipe message kinds (main_frame_pipe.cc).
  void ShowShortMessage(const ModuleMessage& message);
  void ShowButtonMessage(const ModuleMessage& message);
  void ShowMessageDialog(ModuleMessage& message);
  void RefreshProductName();
  void HandleModuleRequest(ModuleMessage& message);
  // (Re)arms the one-shot icon reset timer (2000 ms).
  void ArmIconResetTimer();

  // Members, in the order the frame's data is laid out.
  CSystemTray tray_icon_;
  KaOSAL::KaPath starter_path_;
  ConsoleLoader console_loader_;
  IConsoleView* console_view_ = nullptr;
  // The pipe threads use the console view while the frame may be releasing
  // the Console (destruction step 2 comes before the callbacks are waited
  // for): they hold this shared, the release holds it alone. The frame's own
  // thread, which alone changes the view, reads it without the lock.
  std::shared_mutex console_lock_;
  const platform::UINT_PTR icon_reset_timer_id_ = 0x800B;
  // Once after the icon is created: is anything drawing it?
  static constexpr platform::UINT_PTR kTrayHostCheckTimerId = 0x800C;
  std::unique_ptr<ModuleLoader> handset_link_loader_;
  IModule* handset_link_ = nullptr;
  ModuleLoader wardex_loader_;
  IModule* wardex_module_ = nullptr;
  ModuleLoader snapcheck_loader_;
  IModule* snapcheck_module_ = nullptr;
  // The quick-check view shown in the Console; withdrawn before the
  // SnapCheck module is unloaded.
  ModuleViewRegistration snapcheck_view_;
  ModuleLoader turbo_loader_;
  IModuleSwitch* turbo_switch_ = nullptr;
  std::unique_ptr<CWorkerThread> newsfeed_thread_;
  std::unique_ptr<IpcLoader> ipc_loader_;
  IIpcServer* ipc_server_ = nullptr;
  // The stopping flag and the running-callbacks count are PipeMessageTarget's.
  ModuleCache module_cache_;
  // Message dialogs waiting for their answer, at most kMaxWaitingDialogs:
  // the pipe server serves 32 requests at once, and the rest are kept for
  // requests that end quickly.
  static constexpr int32_t kMaxWaitingDialogs = 16;
  std::atomic<int32_t> waiting_dialogs_{0};

  // The tray icon's image (icon 128), released with the frame.
  platform::HICON tray_icon_image_ = nullptr;
  // The frame's window for the pipe threads, which post and arm timers to it;
  // set once at creation and kept after the window is gone (posts then fail).
  std::atomic<platform::HWND> window_{nullptr};
  bool window_destroyed_ = false;
  // The thread that runs the frame's loop: the tray menu, the creation and
  // destruction, and the calls the plug-in contract reserves for it.
  ThreadChecker frame_thread_;
  std::atomic<bool> creation_finished_{false};
};

}  // namespace wardex
