#include "external/graphics_layer.h"

namespace wardex {

GraphicsLayer::GraphicsLayer() : styler_(MakeVeStylerLibrary()), logger_(MakeVeLoggerLibrary()) {}

bool GraphicsLayer::Start() {
  std::lock_guard<std::mutex> hold(lock_);
  if (!running_) running_ = true;  // the start-up that GDI+ needs on Windows
  ++references_;
  styler_.Start();
  logger_.Start();
  return running_;
}

void GraphicsLayer::Stop() {
  std::lock_guard<std::mutex> hold(lock_);
  if (references_ > 0) --references_;
  styler_.Release();
  logger_.Release();
  if (references_ == 0 && running_) running_ = false;
}

bool GraphicsLayer::running() const {
  std::lock_guard<std::mutex> hold(lock_);
  return running_;
}

int GraphicsLayer::references() const {
  std::lock_guard<std::mutex> hold(lock_);
  return references_;
}

GraphicsLayer& Graphics() {
  static GraphicsLayer graphics;
  return graphics;
}

}  // namespace wardex
