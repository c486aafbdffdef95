// A module's view as the Console draws it. A module whose view object (the
// IConsoleView it hands the agent, such as the quick-check view) also
// implements IModuleViewModel describes its content as data: a title, rows of
// label, value and progress, and buttons. The Console draws that in its own
// window, in its own process, and calls the module back when a button is
// pressed; the module never touches a GUI toolkit.
//
// Showing a view (IConsoleView::ShowModuleView) returns a
// ModuleViewRegistration. While one is held, the Console may call the view;
// once the last is destroyed the view is withdrawn and never called again.
// Destroy it before the view object, and so before its module is unloaded.
#pragma once

#include <cstdint>
#include <mutex>
#include <utility>
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

// Both operations are called on the agent's frame thread, one at a time, so
// a view needs no lock of its own for them. Neither may wait for long: report
// work in progress as a row instead.
class WARDEX_INTERFACE IModuleViewModel {
 public:
  // The content as it is now.
  virtual ViewModel DescribeView() = 0;
  // The user pressed button |id|. The Console asks DescribeView again right after.
  virtual void OnViewButton(int32_t id) = 0;

 protected:
  virtual ~IModuleViewModel() = default;
};

// What the Console and the registrations of one shown view share. The code
// is all in this header, so each side runs its own copy: whichever lets go
// last frees it, even when the other side's library is unloaded by then.
class ModuleViewLink {
 public:
  // Made by the Console with one registration and its own hold.
  explicit ModuleViewLink(IModuleViewModel* model) : model_(model) {}
  ModuleViewLink(const ModuleViewLink&) = delete;
  ModuleViewLink& operator=(const ModuleViewLink&) = delete;

  // Calls |use| with the model while the view is shown; false once it was
  // withdrawn. A withdrawal on another thread waits until |use| returns.
  template <typename Use>
  bool With(Use&& use) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (registrations_ == 0) return false;
    std::forward<Use>(use)(*model_);
    return true;
  }
  // True while a registration holds the view.
  bool shown() const {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    return registrations_ > 0;
  }
  // True while a registration holds the view of |model|; the model is
  // compared, never called.
  bool Shows(const IModuleViewModel* model) const {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    return registrations_ > 0 && model_ == model;
  }
  void AddRegistration() {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    ++registrations_;
  }
  // The last registration withdraws the view.
  static void DropRegistration(ModuleViewLink* link) {
    Drop(link, [link] { --link->registrations_; });
  }
  // The Console lets go (it is destroyed, or forgets a withdrawn view).
  static void DropConsole(ModuleViewLink* link) {
    Drop(link, [link] { link->console_holds_ = false; });
  }

 private:
  template <typename Change>
  static void Drop(ModuleViewLink* link, Change change) {
    bool last = false;
    {
      std::lock_guard<std::recursive_mutex> hold(link->lock_);
      change();
      last = link->registrations_ == 0 && !link->console_holds_;
    }
    if (last) delete link;
  }

  mutable std::recursive_mutex lock_;
  IModuleViewModel* const model_;
  int registrations_ = 1;
  bool console_holds_ = true;
};

// A shown view, held by whoever showed it. Move-only; any thread.
class [[nodiscard]] ModuleViewRegistration {
 public:
  ModuleViewRegistration() = default;
  // Takes over one registration of |link|.
  explicit ModuleViewRegistration(ModuleViewLink* link) : link_(link) {}
  ModuleViewRegistration(ModuleViewRegistration&& other) noexcept
      : link_(std::exchange(other.link_, nullptr)) {}
  ModuleViewRegistration& operator=(ModuleViewRegistration&& other) noexcept {
    if (this != &other) {
      Reset();
      link_ = std::exchange(other.link_, nullptr);
    }
    return *this;
  }
  ~ModuleViewRegistration() { Reset(); }

  // Withdraws this hold on the view; waits while the Console is inside it.
  void Reset() {
    if (link_ != nullptr) ModuleViewLink::DropRegistration(std::exchange(link_, nullptr));
  }
  explicit operator bool() const { return link_ != nullptr; }

 private:
  ModuleViewLink* link_ = nullptr;
};

}  // namespace wardex
