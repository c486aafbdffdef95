// CRegistrySettings: the product's registry key,
// HKEY_LOCAL_MACHINE\SOFTWARE\<company>\<RegKey>, made on the stack by each
// user. With an empty RegKey no key is opened and the operations address the
// root of HKEY_LOCAL_MACHINE, which holds no values: reads give their
// defaults and writes fail.
#pragma once

#include "config/registry.h"

namespace wardex {

class CRegistrySettings : public CRegistry {
 public:
  CRegistrySettings();
  virtual ~CRegistrySettings();
};

}  // namespace wardex
