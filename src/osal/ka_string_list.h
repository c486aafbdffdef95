// KaStringList: an ordered list of KaString.
#pragma once

#include <cstddef>
#include <vector>

#include "osal/ka_string.h"

namespace KaOSAL {

class KAOSAL_API KaStringList {
 public:
  int GetCount() const { return static_cast<int>(items_.size()); }
  bool IsEmpty() const { return items_.empty(); }
  const KaString& GetAt(int index) const { return items_[static_cast<std::size_t>(index)]; }
  KaString& GetAt(int index) { return items_[static_cast<std::size_t>(index)]; }
  const KaString& operator[](int index) const { return GetAt(index); }
  void Add(const KaString& text) { items_.push_back(text); }
  void RemoveAt(int index) { items_.erase(items_.begin() + index); }
  void RemoveAll() { items_.clear(); }

  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  std::vector<KaString> items_;
};

}  // namespace KaOSAL
