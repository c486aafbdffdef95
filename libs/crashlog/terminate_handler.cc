#include "terminate_handler.h"

#include <cxxabi.h>

#include <cstdlib>
#include <exception>
#include <memory>
#include <string>

#include "crash_report.h"
#include "osal/wide_format.h"
#include "this_process.h"
#include "wardex/crashlog.h"

namespace wardex::crashlog {
namespace {

// Returns the demangled type of the exception being handled, or empty.
std::string CurrentExceptionType() {
  const std::type_info* type = abi::__cxa_current_exception_type();
  if (type == nullptr) return {};
  int status = 0;
  std::unique_ptr<char, decltype(&free)> readable(
      abi::__cxa_demangle(type->name(), nullptr, nullptr, &status), &free);
  return status == 0 && readable ? readable.get() : type->name();
}

// Returns "type: what()" of the exception that ended the thread, if any.
std::string DescribeCurrentException() {
  std::exception_ptr current = std::current_exception();
  if (!current) return "std::terminate without an active exception";
  std::string description = "uncaught exception " + CurrentExceptionType();
  try {
    std::rethrow_exception(current);
  } catch (const std::exception& error) {
    description += std::string(": ") + error.what();
  } catch (...) {
  }
  return description;
}

[[noreturn]] void OnTerminate() {
  const std::u16string text = KaOSAL::FormatWide(u"Terminate in thread %u: %S", CurrentThreadId(),
                                                 DescribeCurrentException().c_str());
  LogW(kLogError, u"%s", text.c_str());
  WriteReport("terminate", KaOSAL::ToUtf8(text) + "\n");
  std::abort();
}

}  // namespace

void InstallTerminateHandler() { std::set_terminate(OnTerminate); }

}  // namespace wardex::crashlog
