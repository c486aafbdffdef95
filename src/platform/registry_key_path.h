// Registry key paths and views as plain logic, without a store: how a path
// splits and compares, which view a key lives in, which keys are never
// deleted, and where HKEY_CLASSES_ROOT's keys are.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "osal/ka_string.h"
#include "platform/registry_store.h"

namespace wardex::platform::registry {

// A key path split into its components, folded (upper case, for
// comparisons) and as written, both UTF-8.
struct KeyPath {
  std::vector<std::string> folded;
  std::vector<std::string> written;

  // The first |count| folded components joined with "\".
  [[nodiscard]] std::string FoldedText(size_t count) const;
  [[nodiscard]] std::string Folded() const { return FoldedText(folded.size()); }
  [[nodiscard]] std::string Parent() const {
    return FoldedText(folded.empty() ? 0 : folded.size() - 1);
  }
};

// |name| as key and value names compare: upper case, UTF-8.
[[nodiscard]] std::string FoldName(const KaOSAL::KaString& name);

// Splits |path|; leading and trailing backslashes are ignored, an empty
// component in the middle is invalid (false).
[[nodiscard]] bool SplitKeyPath(const KaOSAL::KaString& path, KeyPath* out);

// The views as a store keeps them: keys outside the redirected part exist
// once, in kShared.
enum View : int { kShared = 0, kView32 = 32, kView64 = 64 };

// The view that the key of |key|'s first |depth| components in |hive| lives
// in for |access|. Only HKLM\SOFTWARE's sub-keys are redirected; without a
// view bit they are in the 32-bit view, the agent's native one.
[[nodiscard]] View ViewOf(HKEY hive, const KeyPath& key, size_t depth, uint32_t access);

// The keys a delete must leave: the hive's root; HKLM\SOFTWARE, whose
// sub-keys are split between the two views, so that deleting it in one
// view would orphan the other's; and Software\Classes, which
// HKEY_CLASSES_ROOT stands for.
[[nodiscard]] bool IsPermanent(HKEY hive, const KeyPath& key);

// The key below Software\Classes that HKEY_CLASSES_ROOT's |key| stands for,
// in the user's hive and in the machine's.
[[nodiscard]] KeyPath ClassesKey(const KeyPath& key);

}  // namespace wardex::platform::registry
