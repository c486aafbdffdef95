// What the Console's window tests of both systems show: an information page,
// the settings, a module view and a dialog, with ordinary content or with the
// largest the messages carry.
#pragma once

#include <string>
#include <vector>

#include "protocol/console_protocol.h"

namespace wardex::console {

inline std::vector<ConsoleMessage> WindowContents(bool largest) {
  std::string word = "Corvane Software GmbH";
  for (int i = 0; largest && i < 4; ++i) word += " " + word;
  const size_t entries = largest ? kMaxListEntries : 3;
  const size_t buttons = largest ? kMaxDialogButtons : 2;
  ShowDialogMessage dialog{1, word, "Remove 42 files?", "", "", 2, 0, {}, {}};
  while (largest && dialog.message.size() < kMaxTextBytes / 2) dialog.message += " " + word;
  for (size_t i = 0; i < buttons; ++i) dialog.buttons.push_back({word, static_cast<int32_t>(i)});
  dialog.check_boxes.assign(largest ? kMaxDialogCheckBoxes : 1, {word + " " + word, false});
  return {ShowInfoMessage{word, word, "1.0.0", "5a63d8e2c1f04b7f9a2d3e4f5a6b7c8d",
                          "/home/someone/.local/state/wardex/" + word + ".log",
                          std::vector<ModuleEntry>(entries, {"TurboModule", word}),
                          std::vector<std::string>(entries, "Copyright (C) 2026 " + word)},
          ShowSettingsMessage{"de", std::vector<LanguageEntry>(entries, {"de", word}), true, false},
          ShowViewMessage{7, word, std::vector<ViewRowData>(entries, {"Temporary files", word, 40}),
                          std::vector<ViewButtonData>(buttons, {1, word, true}),
                          std::vector<MenuEntry>(buttons, {0x8010, word, true})},
          dialog};
}

}  // namespace wardex::console
