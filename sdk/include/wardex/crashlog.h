// The crash-and-log library (libcrashlog.so), linked at load time by the agent.
// Text is UTF-16; a null text counts as empty.
#pragma once

#include <cstdint>

#if defined(CRASHLOG_BUILDING)
#define CRASHLOG_API extern "C" __attribute__((visibility("default")))
#else
#define CRASHLOG_API extern "C"
#endif

// Log levels in use by the agent.
enum : int {
  kLogError = 3,     // errors and failed checks
  kLogNotable = 6,   // notable events and warnings
  kLogInfo = 8,      // information
  kLogSysFail = 9,   // failed system calls
  kLogTaskStep = 12, // successful task-scheduler steps
  kLogTrace = 14,    // start-up and shut-down trace
};

// What a guarded thread hands the worker exception filter: the Windows
// exception code and address, and for hardware faults the signal and its
// si_code (0 for C++ and raised exceptions).
struct WardexExceptionRecord {
  uint32_t code;
  const void* address;
  int signal_number;
  int signal_code;
};

struct WardexExceptionPointers {
  WardexExceptionRecord* record;
  void* context;  // always null on Linux
};

// Exception-filter verdicts.
enum : int {
  kExceptionContinueSearch = 0,
  kExceptionExecuteHandler = 1,
};

CRASHLOG_API void InstallCrashHandler();
CRASHLOG_API void RemoveCrashHandler();
CRASHLOG_API void SetComputerId(const char16_t* computer_id);
// Writes one report line (thread name, code, address) and answers
// kExceptionExecuteHandler, so the guarded thread ends and the process lives.
CRASHLOG_API int WorkerExceptionFilter(WardexExceptionPointers* pointers, const char* thread_name);
CRASHLOG_API void LogW(int level, const char16_t* format, ...);
CRASHLOG_API void SetTerminateExceptionHandler();
// A thread-local storage index for the given slot, or -1.
CRASHLOG_API int GetGlobalTlsIndex(int slot);
