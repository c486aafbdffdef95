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

  // "SOFTWARE\<company>\<RegKey>", or empty with an empty RegKey: also the
  // path of the user's copy where the machine's key cannot be made.
  static KaOSAL::KaString ProductKeyPath();
};

}  // namespace wardex
