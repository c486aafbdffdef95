// The report of a thread's fault on Windows, written by another thread (the
// faulting one may have no stack left), with a minidump beside it.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/windows_api.h"

namespace wardex::crashlog {

// Writes the report of |fault|, which thread |thread_id| raised: the heading,
// |details|, the thread's backtrace from the fault's context, then the
// minidump "crash-...-<pid>.dmp" and a line naming it.
void WriteFaultReport(std::string_view title, std::string_view details, uint32_t thread_id,
                      EXCEPTION_POINTERS* fault);

}  // namespace wardex::crashlog
