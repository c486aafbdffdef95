// What the structured-exception guards of every platform share: the filter's
// question and the C++ side of a guard.
#pragma once

#include <functional>

#include "platform/seh_guard.h"

namespace wardex::platform {

// Asks |filter| about |record|. True when it handled the exception; the
// record then goes to |caught| when given.
bool FilterHandles(const WardexExceptionRecord& record, const ExceptionFilterFunction& filter,
                   WardexExceptionRecord* caught);

// Runs |body| and hands a C++ exception that escapes it to |filter| (a
// StructuredException with its record, any other with kExceptionCppException),
// calling |leave| first in every case. True when |body| returned; false when
// the filter handled the exception, which otherwise goes on. The forced
// unwind of a cancelled thread is never caught.
bool RunCatchingCppExceptions(const std::function<void()>& body,
                              const ExceptionFilterFunction& filter, WardexExceptionRecord* caught,
                              const std::function<void()>& leave);

}  // namespace wardex::platform
