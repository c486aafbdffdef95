// CJsonParseError: where and why a JSON text failed to parse.
#pragma once

#include <cstddef>

#include "osal/ka_string.h"

namespace wardex {

struct CJsonParseError {
  int line = 1;       // from 1
  int column = 1;     // from 1
  size_t offset = 0;  // in UTF-16 code units from the start of the text
  KaOSAL::KaString message;

  void Reset() {
    line = 1;
    column = 1;
    offset = 0;
    message.Empty();
  }
};

}  // namespace wardex
