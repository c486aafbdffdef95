// The information window: product name and edition, version, computer
// identifier, log file, the modules loaded with their signers, and the About
// texts. Its Close button is the default; Escape closes it too.
#pragma once

#include <gtk/gtk.h>

#include "page_window.h"

namespace wardex::console {

// Returns the window; the labels are its descendants (tests read them).
GtkWindow* OpenInfoWindow(GtkApplication* application, const ConsoleTexts& texts,
                          const ShowInfoMessage& info);

}  // namespace wardex::console
