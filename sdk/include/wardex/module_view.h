// A module's view as the Console draws it. A module whose view object (the
// IConsoleView it hands the agent, such as the quick-check view) also
// implements IModuleViewModel describes its content as data: a title, rows of
// label, value and progress, and buttons. The Console draws that in its own
// window, in its own process, and calls the module back when a button is
// pressed; the module never touches a GUI toolkit.
#pragma once

#include <cstdint>
#include <vector>

#include "osal/ka_string.h"
#include "wardex/export.h"

namespace wardex {

// A row without a progress bar has progress kNoProgress.
inline constexpr int32_t kNoProgress = -1;

struct ViewRow {
  KaOSAL::KaString label;
  KaOSAL::KaString value;
  int32_t progress = kNoProgress;  // 0 to 100, or kNoProgress
};

struct ViewButton {
  int32_t id = 0;  // what OnViewButton receives
  KaOSAL::KaString title;
  bool enabled = true;
};

struct ViewModel {
  KaOSAL::KaString title;
  std::vector<ViewRow> rows;
  std::vector<ViewButton> buttons;
};

class WARDEX_INTERFACE IModuleViewModel {
 public:
  // The content as it is now. Called from the Console's thread, never from
  // the frame's; it must not wait for long (report work in progress as a
  // row instead).
  virtual ViewModel DescribeView() = 0;
  // The user pressed button |id|; called from the Console's thread. The
  // Console asks DescribeView again right after.
  virtual void OnViewButton(int32_t id) = 0;

 protected:
  virtual ~IModuleViewModel() = default;
};

}  // namespace wardex
