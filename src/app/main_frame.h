// CMainFrame: the agent's one top-level window. It is never shown; it owns
// everything that lives as long as the agent runs (tray icon, Console, pipe
// server, modules, news-feed thread: one RunningAgent) and receives, on the
// user-interface thread, the tray menu's commands, its timer and the private
// messages. Pipe messages reach it on the IPC library's threads
// (HandlePipeMessage), the news check through its sink.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>

#include "app/newsfeed_thread.h"
#include "app/running_agent.h"
#include "modules/module_loader.h"
#include "modules/module_message.h"
#include "modules/pipe_callback.h"
#include "osal/ka_path.h"
#include "platform/resources.h"
#include "platform/ui.h"
#include "wardex/console_host.h"
#include "wardex/console_view.h"
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
                   public PipeMessageHandler,
                   public IConsoleHost,
                   private INewsfeedSink {
 public:
  CMainFrame();
  // The agent's shutdown: what it holds goes in reverse order (running_agent.h).
  ~CMainFrame() override = default;

  platform::LRESULT WindowProc(platform::UINT message, platform::WPARAM wparam,
                               platform::LPARAM lparam) override;

  // The module cache lookup: the cached loader of |name|, loading the module
  // when |load_if_missing| is set. Hold it while calling into the module.
  std::shared_ptr<ModuleLoader> GetModule(KaOSAL::KaString name, bool load_if_missing);

  // Shows the SnapCheck module's quick-check view in the Console.
  platform::LRESULT ShowSnapCheck(int source);

  // Acts on a decoded pipe message by its kind; runs on the IPC library's
  // threads (main_frame_pipe.cc).
  void HandlePipeMessage(ModuleMessage& message) override;

  // The Console's host (main_frame_console.cc).
  AgentDescription DescribeAgent() override;
  AgentSettings ReadSettings() override;
  std::vector<UnsavedSetting> WriteSettings(const AgentSettings& settings) override;
  std::vector<ConsoleMenuEntry> MenuEntries() override;
  KaOSAL::KaString ConsoleText(const char16_t* key) override;
  void RunMenuCommand(uint32_t command) override;
  void ScheduleOnFrame() override;
  bool ShowNotification(const ConsoleNotification& notification, uint32_t wait_ms) override;

  // True once WM_DESTROY arrived: the window is gone.
  [[nodiscard]] bool window_destroyed() const { return window_destroyed_; }

 private:
  static constexpr platform::UINT_PTR kIconResetTimerDelayMs = 2000;

  // The creation sequence (WM_CREATE); 0, or -1 when a plug-in faulted in it.
  platform::LRESULT OnCreate();
  void CreateTrayIcon();
  [[nodiscard]] bool CreateConsole();
  [[nodiscard]] bool EstablishPipeServer();
  [[nodiscard]] bool LoadFrameModules();
  // One of the frame's own modules: its library, then (guarded) its object.
  [[nodiscard]] bool LoadFrameModule(FrameModule& module, const char16_t* name);
  void StartNewsfeedCheck();
  // Tray menu texts and entries (creation step 11).
  [[nodiscard]] bool BuildMenu();
  void CountStart();
  // Runs |call|, plug-in code of the creation sequence, under the guard of
  // the frame's load; false (and the sequence fails) when it faulted.
  [[nodiscard]] bool CreationCall(const std::function<void()>& call);
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

  // The news check's sink, on its thread.
  bool WaitForCreation(std::stop_token stop) override;
  bool ShowNewsItem(const NewsItem& item) override;

  // The thread that runs the frame's loop: the tray menu, the creation and
  // destruction, and the calls the plug-in contract reserves for it.
  ThreadChecker frame_thread_;
  // Everything the running agent holds; teardown is its destruction.
  RunningAgent agent_;
  KaOSAL::KaPath starter_path_;
  const platform::UINT_PTR icon_reset_timer_id_ = 0x800B;
  // Once after the icon is created: is anything drawing it?
  static constexpr platform::UINT_PTR kTrayHostCheckTimerId = 0x800C;
  // Message dialogs waiting for their answer (pipe threads), at most
  // kMaxWaitingDialogs: the pipe server serves 32 requests at once, and the
  // rest are kept for requests that end quickly.
  static constexpr int32_t kMaxWaitingDialogs = 16;
  std::atomic<int32_t> waiting_dialogs_{0};
  // The frame's window for the pipe threads and the Console, which post and
  // arm timers to it; set once at creation and kept after the window is gone
  // (posts then fail).
  std::atomic<platform::HWND> window_{nullptr};
  bool window_destroyed_ = false;
  // A plug-in faulted during the creation sequence.
  bool creation_faulted_ = false;
  // The end of the creation sequence, which the news thread waits for.
  std::mutex creation_lock_;
  std::condition_variable_any creation_changed_;
  bool creation_finished_ = false;
};

}  // namespace wardex
