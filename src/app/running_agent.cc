#include "app/running_agent.h"

#include "config/install_config.h"
#include "external/graphics_layer.h"
#include "external/tracking_library.h"

namespace wardex {

IconImage::~IconImage() {
  if (handle != nullptr) platform::DestroyIcon(handle);
}

LibraryReferences::LibraryReferences() {
  Graphics().Start();
  const KaOSAL::KaString module = ReadInstallConfig(u"install", u"Module", u"bk_free");
  const KaOSAL::KaString category = module.Find(u"_free") >= 0 ? u"TRAY FREE" : u"TRAY";
  Tracking().Start(category, true, u"", false);
}

LibraryReferences::~LibraryReferences() {
  Tracking().Release();
  Graphics().Stop();
}

}  // namespace wardex
