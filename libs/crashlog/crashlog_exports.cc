// The library's exported entry points.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "crash_handler.h"
#include "crash_report.h"
#include "log_file.h"
#include "log_line.h"
#include "osal/thread_slots.h"
#include "osal/wide_format.h"
#include "terminate_handler.h"
#include "this_process.h"
#include "wardex/crashlog.h"

namespace {

// Thread names longer than this are cut, as the worker threads pass them.
constexpr size_t kThreadNameMax = 255;

// Returns the report line of a worker-thread exception.
std::u16string DescribeWorkerException(const WardexExceptionPointers* pointers,
                                       const char* thread_name) {
  const std::string name(thread_name != nullptr ? thread_name : "",
                         thread_name != nullptr ? strnlen(thread_name, kThreadNameMax) : 0);
  const WardexExceptionRecord* record = pointers != nullptr ? pointers->record : nullptr;
  if (record == nullptr) {
    return KaOSAL::FormatWide(u"Worker thread \"%S\": exception without a record", name.c_str());
  }
  std::u16string line = KaOSAL::FormatWide(
      u"Worker thread \"%S\": exception 0x%08X at 0x%016I64X", name.c_str(), record->code,
      static_cast<uint64_t>(reinterpret_cast<uintptr_t>(record->address)));
  if (record->signal_number != 0) {
    KaOSAL::AppendFormat(line, u" (signal %d, code %d)", record->signal_number,
                         record->signal_code);
  }
  return line;
}

}  // namespace

CRASHLOG_API void InstallCrashHandler() { wardex::crashlog::InstallCrashHandlers(); }

CRASHLOG_API void RemoveCrashHandler() { wardex::crashlog::RemoveCrashHandlers(); }

CRASHLOG_API void SetComputerId(const char16_t* computer_id) {
  wardex::crashlog::PublishComputerId(
      computer_id != nullptr ? KaOSAL::ToUtf8(std::u16string(computer_id)) : std::string());
}

CRASHLOG_API int WorkerExceptionFilter(WardexExceptionPointers* pointers, const char* thread_name) {
  const std::u16string line = DescribeWorkerException(pointers, thread_name);
  LogW(kLogError, u"%s", line.c_str());
  wardex::crashlog::WriteReport("worker exception", KaOSAL::ToUtf8(line) + "\n");
  return kExceptionExecuteHandler;
}

CRASHLOG_API void LogW(int level, const char16_t* format, ...) {
  const wardex::crashlog::LogCallScope scope;
  if (!wardex::crashlog::LevelEnabled(level)) return;
  va_list args;
  va_start(args, format);
  const std::string text = wardex::crashlog::FormatLogText(format, args);
  va_end(args);
  wardex::crashlog::WriteLog(level, text);
}

CRASHLOG_API void SetTerminateExceptionHandler() { wardex::crashlog::InstallTerminateHandler(); }

CRASHLOG_API size_t GetLogFilePath(char* buffer, size_t capacity) {
  const std::string path = wardex::crashlog::LogTarget();
  if (buffer != nullptr && capacity > 0) {
    const size_t copied = std::min(path.size(), capacity - 1);
    std::memcpy(buffer, path.data(), copied);
    buffer[copied] = '\0';
  }
  return path.size();
}

CRASHLOG_API int GetGlobalTlsIndex(int slot) {
  return slot >= 0 && slot < KaOSAL::kThreadSlotCount ? slot : -1;
}
