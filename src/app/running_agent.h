// Everything the running agent holds: the tray icon, the outside libraries'
// references, the module cache, the Console, the pipe server, the news
// check and the frame's own modules. CMainFrame owns one and fills it in its
// creation sequence; its steps and log lines stay the frame's.
//
// Members are declared in dependency order: each may use those above it, and
// destruction in reverse is the agent's shutdown order. Members that other
// threads reach say which beside them; the rest belong to the user-interface
// thread.
#pragma once

#include "app/frame_console.h"
#include "app/frame_module.h"
#include "app/newsfeed_thread.h"
#include "app/pipe_server.h"
#include "app/system_tray.h"
#include "modules/module_cache.h"
#include "platform/resources.h"
#include "wardex/module_view.h"

namespace wardex {

// An icon image, released when it goes.
struct IconImage {
  IconImage() = default;
  ~IconImage();
  IconImage(const IconImage&) = delete;
  IconImage& operator=(const IconImage&) = delete;
  platform::HICON handle = nullptr;
};

// The tray icon; removed with its window when it goes.
class TrayIcon final : public CSystemTray {
 public:
  ~TrayIcon() override { DestroyWindow(); }
};

// One reference on the graphics layer and the tracking library (with the
// edition's category) for as long as the frame lives.
struct LibraryReferences {
  LibraryReferences();
  ~LibraryReferences();
  LibraryReferences(const LibraryReferences&) = delete;
  LibraryReferences& operator=(const LibraryReferences&) = delete;
};

struct RunningAgent {
  RunningAgent(PipeMessageHandler& pipe_handler, INewsfeedSink& news_sink)
      : pipe_server(pipe_handler, module_cache), newsfeed(news_sink) {}
  // The news check is asked to stop first, so that its request ends while
  // the modules and the Console go.
  ~RunningAgent() { newsfeed.RequestStop(); }
  RunningAgent(const RunningAgent&) = delete;
  RunningAgent& operator=(const RunningAgent&) = delete;

  IconImage tray_image;  // outlives the tray that shows it
  TrayIcon tray;         // pipe threads: balloons and icons, under the tray's own lock
  LibraryReferences libraries;
  ModuleCache module_cache;      // pipe threads: lookups and loads
  ConsoleAccess console_access;  // pipe threads and the news thread: the view behind its gate
  PipeServer pipe_server;        // the IPC threads' way in, until it goes
  NewsfeedThread newsfeed;       // the news thread, waited for when it goes
  FrameModule handset_link{FrameModule::OnUnload::kStopMonitoring};
  FrameModule snapcheck;
  ModuleViewRegistration snapcheck_view;  // the quick-check view, withdrawn before SnapCheck goes
  FrameConsole console{console_access, module_cache};
  FrameModule turbo;
  FrameModule wardex;
};

}  // namespace wardex
