// The graphics layer's start and stop: a reference count, the styler and
// logging libraries kept loaded while it runs, all under one lock. Linux has
// no GDI+ to start; the layer only records that it "runs".
#pragma once

#include <mutex>

#include "external/ve_library.h"

namespace wardex {

class GraphicsLayer {
 public:
  GraphicsLayer();
  ~GraphicsLayer() = default;
  GraphicsLayer(const GraphicsLayer&) = delete;
  GraphicsLayer& operator=(const GraphicsLayer&) = delete;

  // Starts the layer when it does not run, counts one more reference, starts
  // the styler and the logging library. True when the layer runs.
  bool Start();
  // One reference less, releases the styler and the logging library; shuts
  // the layer down when no reference is left.
  void Stop();

  bool running() const;
  int references() const;
  const VeStylerLibrary& styler() const { return styler_; }
  const VeLoggerLibrary& logger() const { return logger_; }

 private:
  mutable std::mutex lock_;
  bool running_ = false;
  int references_ = 0;
  VeStylerLibrary styler_;
  VeLoggerLibrary logger_;
};

// The process's graphics layer.
GraphicsLayer& Graphics();

}  // namespace wardex
