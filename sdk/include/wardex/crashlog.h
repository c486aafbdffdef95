// The crash-and-log library (libcrashlog.so, libcrashlog.dll), linked at load
// time by the agent. Text is UTF-16; a null text counts as empty. Every
// function may be called from any thread; InstallCrashHandler and
// RemoveCrashHandler belong to the main thread's start and end.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && defined(CRASHLOG_BUILDING)
#define CRASHLOG_API extern "C" __declspec(dllexport)
#elif defined(_WIN32)
#define CRASHLOG_API extern "C" __declspec(dllimport)
#elif defined(CRASHLOG_BUILDING)
#define CRASHLOG_API extern "C" __attribute__((visibility("default")))
#else
#define CRASHLOG_API extern "C"
#endif

// Log levels in use by the agent.
enum : int {
  kLogError = 3,      // errors and failed checks
  kLogNotable = 6,    // notable events and warnings
  kLogInfo = 8,       // information
  kLogSysFail = 9,    // failed system calls
  kLogTaskStep = 12,  // successful task-scheduler steps
  kLogTrace = 14,     // start-up and shut-down trace
};

// What a guarded thread hands the worker exception filter: the Windows
// exception code and address, and on Linux for hardware faults the signal
// and its si_code (0 for C++ and raised exceptions, and on Windows).
struct WardexExceptionRecord {
  uint32_t code;
  const void* address;
  int signal_number;
  int signal_code;
};

struct WardexExceptionPointers {
  WardexExceptionRecord* record;
  void* context;  // always null: the filter runs once the faulting frames are left
};

// Exception-filter verdicts.
enum : int {
  kExceptionContinueSearch = 0,
  kExceptionExecuteHandler = 1,
};

// Reports a fault that nothing handles in a file beside the log
// ("crash-YYYYMMDD-HHMMSS-<pid>.txt", UTC) and lets the process die of it.
// Linux: SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGABRT; the handler installed
// before is called first (a structured-exception guard takes its faults
// there). Windows: the unhandled-exception filter (the filter installed
// before is asked first), a stack overflow, and SIGABRT; a minidump
// ("crash-...-<pid>.dmp") goes beside the report, and the process ends with
// the exception code (3 after abort).
// Installing again does nothing; removing puts the previous handlers back.
CRASHLOG_API void InstallCrashHandler();
CRASHLOG_API void RemoveCrashHandler();
CRASHLOG_API void SetComputerId(const char16_t* computer_id);
// Writes one report line (thread name, code, address) and answers
// kExceptionExecuteHandler, so the guarded thread ends and the process lives.
CRASHLOG_API int WorkerExceptionFilter(WardexExceptionPointers* pointers, const char* thread_name);
// One line "2026-12-05 14:09:10.123 [14] 12345 text" (local time, level, thread
// id) to $XDG_STATE_HOME/wardex/log/wardex.log, on Windows to
// <local application data>\Wardex\log\wardex.log (rotated at 1 MiB, three
// old generations kept), and to the systemd journal where it runs; to standard
// error when the folder cannot be written. WARDEX_LOG_LEVEL=N writes levels up
// to N only (a filtered call formats nothing); WARDEX_LOG_FILE=/path sends the
// log to a file of one's own; WARDEX_LOG_JOURNAL=0 keeps it out of the
// journal. Never fails; errno (and the system's last error) is left as it
// was. Not for signal handlers.
CRASHLOG_API void LogW(int level, const char16_t* format, ...);
// std::terminate logs and reports the uncaught exception, then aborts. The
// handler is process-wide.
CRASHLOG_API void SetTerminateExceptionHandler();
// Copies the log file's path (UTF-8, terminated, cut to |capacity|) and
// returns its full length; 0 when the log goes to standard error.
CRASHLOG_API size_t GetLogFilePath(char* buffer, size_t capacity);
// A thread-local storage index for the given slot (0..15), or -1; the values
// are kept with KaOSAL::TlsSetValue / TlsGetValue (osal/thread_slots.h).
CRASHLOG_API int GetGlobalTlsIndex(int slot);
