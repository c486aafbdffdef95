#include <cxxabi.h>

#include "platform/seh_guard.h"
#include "platform/seh_guard_internal.h"

namespace wardex::platform {

void RaiseException(uint32_t code) {
  throw StructuredException({code, __builtin_return_address(0), 0, 0});
}

bool FilterHandles(const WardexExceptionRecord& record, const ExceptionFilterFunction& filter,
                   WardexExceptionRecord* caught) {
  WardexExceptionRecord copy = record;
  WardexExceptionPointers pointers{&copy, nullptr};
  if (filter(&pointers) != kExceptionExecuteHandler) return false;
  if (caught != nullptr) *caught = record;
  return true;
}

bool RunCatchingCppExceptions(const std::function<void()>& body,
                              const ExceptionFilterFunction& filter, WardexExceptionRecord* caught,
                              const std::function<void()>& leave) {
  try {
    body();
    leave();
    return true;
  } catch (abi::__forced_unwind&) {
    leave();
    throw;
  } catch (const StructuredException& exception) {
    leave();
    if (FilterHandles(exception.record(), filter, caught)) return false;
    throw;
  } catch (...) {
    leave();
    if (FilterHandles({kExceptionCppException, nullptr, 0, 0}, filter, caught)) return false;
    throw;
  }
}

}  // namespace wardex::platform
