// A prepared news item, handed by value to IConsoleView::ShowNewsfeed.
// Strings and paths are the host's exported KaOSAL classes (libkaosal.so), so
// a copy made on either side of the library boundary shares one allocator.
#pragma once

#include <cstdint>

#include "osal/ka_path.h"
#include "osal/ka_string.h"

namespace wardex {

// What the item shows.
enum NewsItemKind : int32_t {
  kNewsItemPlain = 0,
  kNewsItemWithPicture = 1,
  kNewsItemLinkOnly = 2,
};

struct NewsItem {
  KaOSAL::KaString id;  // unique name; also the picture file's name
  KaOSAL::KaString title;
  KaOSAL::KaString nid;    // empty when absent
  KaOSAL::KaString text;   // body; empty when absent
  KaOSAL::KaPath picture;  // the downloaded picture (kNewsItemWithPicture only)
  KaOSAL::KaString link;   // the link-only address, else the completed url, or empty
  KaOSAL::KaString button_text;
  KaOSAL::KaString command_line;  // derived from the item's command, or empty
  KaOSAL::KaString further_text;  // always empty
  uint8_t has_background_color = 0;
  uint32_t background_color = 0;  // red + green * 256 + blue * 65536
  uint8_t has_foreground_color = 0;
  uint32_t foreground_color = 0;  // same form
  KaOSAL::KaString tags;
  uint8_t has_command = 0;
  uint8_t do_not_pop_up = 0;      // only remember the item, do not show it
  int32_t kind = kNewsItemPlain;  // a NewsItemKind
};

}  // namespace wardex
