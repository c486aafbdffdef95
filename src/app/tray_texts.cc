#include "app/tray_texts.h"

#include "config/install_config.h"
#include "config/languages.h"

namespace wardex {

KaOSAL::KaString TrayText(const char16_t* id) { return LoadLocalizedString(id, true, u""); }

KaOSAL::KaString FormatStartEntry(const KaOSAL::KaString& product_name) {
  KaOSAL::KaString text;
  text.Format(TrayText(u"IDS_STRING_RUN").c_str(), product_name.c_str());
  return text;
}

KaOSAL::KaString ReadProductName() { return ReadInstallConfig(u"install", u"ProductName", u""); }

}  // namespace wardex
