// The unhandled-exception filter reports a fault that nothing handled; the
// process then ends with the exception code as its exit code, as it would
// without us. A stack overflow is taken by a vectored handler at the end of
// the chain instead (a structured-exception guard's handler comes first):
// the filter would run too deep on a stack that has no room left. SIGABRT of
// the C runtime (abort, std::terminate) is reported before the runtime ends
// the process with exit code 3.
//
// The faulting thread writes nothing itself: it hands its exception record
// to a reporter thread started at installation and waits for it (at most
// kReportTimeoutMs), so the report has a stack to run on and the minidump
// sees the faulting thread stopped.
#include <signal.h>
#include <stdlib.h>

#include <atomic>
#include <mutex>

#include "crash_handler.h"
#include "crash_report.h"
#include "fault_report_win.h"
#include "fixed_text.h"
#include "log_file.h"

namespace wardex::crashlog {
namespace {

// A minidump of a large process takes seconds; a reporter stuck on a lock
// the faulting thread held must not keep the process alive for ever.
constexpr DWORD kReportTimeoutMs = 60000;

struct ExceptionName {
  DWORD code;
  const char* name;
};

constexpr ExceptionName kExceptionNames[] = {
    {EXCEPTION_ACCESS_VIOLATION, "EXCEPTION_ACCESS_VIOLATION"},
    {EXCEPTION_IN_PAGE_ERROR, "EXCEPTION_IN_PAGE_ERROR"},
    {EXCEPTION_DATATYPE_MISALIGNMENT, "EXCEPTION_DATATYPE_MISALIGNMENT"},
    {EXCEPTION_ILLEGAL_INSTRUCTION, "EXCEPTION_ILLEGAL_INSTRUCTION"},
    {EXCEPTION_PRIV_INSTRUCTION, "EXCEPTION_PRIV_INSTRUCTION"},
    {EXCEPTION_INT_DIVIDE_BY_ZERO, "EXCEPTION_INT_DIVIDE_BY_ZERO"},
    {EXCEPTION_INT_OVERFLOW, "EXCEPTION_INT_OVERFLOW"},
    {EXCEPTION_FLT_DIVIDE_BY_ZERO, "EXCEPTION_FLT_DIVIDE_BY_ZERO"},
    {EXCEPTION_FLT_INVALID_OPERATION, "EXCEPTION_FLT_INVALID_OPERATION"},
    {EXCEPTION_FLT_OVERFLOW, "EXCEPTION_FLT_OVERFLOW"},
    {EXCEPTION_FLT_UNDERFLOW, "EXCEPTION_FLT_UNDERFLOW"},
    {EXCEPTION_STACK_OVERFLOW, "EXCEPTION_STACK_OVERFLOW"},
    {EXCEPTION_ARRAY_BOUNDS_EXCEEDED, "EXCEPTION_ARRAY_BOUNDS_EXCEEDED"},
    {EXCEPTION_INVALID_HANDLE, "EXCEPTION_INVALID_HANDLE"},
    {EXCEPTION_NONCONTINUABLE_EXCEPTION, "EXCEPTION_NONCONTINUABLE_EXCEPTION"},
};

const char* ExceptionNameOf(DWORD code) {
  for (const ExceptionName& entry : kExceptionNames) {
    if (entry.code == code) return entry.name;
  }
  return "unhandled exception";
}

// The thread that writes fault reports, and the one fault it is given.
class Reporter {
 public:
  // Starts the thread, once per process.
  void Start() {
    if (thread_ != nullptr) return;
    // Wine's MiniDumpWriteDump first reads the debug information of every
    // module unless the process has a symbol session: one that loads no
    // symbols makes a dump take seconds there instead of tens of seconds.
    // Windows does not read them either way.
    SymSetOptions(SymGetOptions() | SYMOPT_DEFERRED_LOADS);
    SymInitializeW(GetCurrentProcess(), nullptr, FALSE);
    request_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    done_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, &Reporter::Main, this, 0, &thread_id_);
  }

  // Has |fault| of the calling thread reported; returns when the report is
  // written or the time is up. One fault at a time.
  void Report(EXCEPTION_POINTERS* fault) {
    if (GetCurrentThreadId() == thread_id_) {
      // The reporter itself faulted on a broken stack: end with the code of
      // the fault it was reporting.
      TerminateProcess(GetCurrentProcess(), fault_code_.load());
    }
    std::lock_guard one_at_a_time(mutex_);
    if (thread_ == nullptr) return;
    fault_ = fault;
    faulting_thread_ = GetCurrentThreadId();
    fault_code_ = fault->ExceptionRecord->ExceptionCode;
    SetEvent(request_);
    WaitForSingleObject(done_, kReportTimeoutMs);
  }

 private:
  static DWORD WINAPI Main(void* self) {
    auto* reporter = static_cast<Reporter*>(self);
    for (;;) {
      WaitForSingleObject(reporter->request_, INFINITE);
      reporter->Write();
      SetEvent(reporter->done_);
    }
  }

  void Write() {
    const EXCEPTION_RECORD& record = *fault_->ExceptionRecord;
    const auto instruction = reinterpret_cast<uintptr_t>(record.ExceptionAddress);
    // An access violation names the address it touched; other faults the
    // instruction's.
    uintptr_t fault_address = instruction;
    if ((record.ExceptionCode == EXCEPTION_ACCESS_VIOLATION ||
         record.ExceptionCode == EXCEPTION_IN_PAGE_ERROR) &&
        record.NumberParameters >= 2) {
      fault_address = static_cast<uintptr_t>(record.ExceptionInformation[1]);
    }
    FixedText<512> details;
    details.Append("Exception: 0x").AppendHex(record.ExceptionCode, 8);
    details.Append("\nFault address: 0x").AppendHex(fault_address, 2 * sizeof(void*));
    details.Append("\nInstruction: 0x").AppendHex(instruction, 2 * sizeof(void*)).Append("\n");
    WriteFaultReport(ExceptionNameOf(record.ExceptionCode), details.view(), faulting_thread_,
                     fault_);
  }

  std::mutex mutex_;
  HANDLE request_ = nullptr;
  HANDLE done_ = nullptr;
  HANDLE thread_ = nullptr;
  DWORD thread_id_ = 0;
  EXCEPTION_POINTERS* fault_ = nullptr;
  DWORD faulting_thread_ = 0;
  std::atomic<DWORD> fault_code_{0};
};

std::mutex g_install_mutex;
// Whether a fault gets a report; false once removed.
std::atomic<bool> g_reporting{false};
bool g_filter_in_chain = false;
bool g_abort_in_chain = false;
Reporter* g_reporter = nullptr;  // never destroyed: a fault may come at exit
LPTOP_LEVEL_EXCEPTION_FILTER g_previous_filter = nullptr;
void* g_overflow_handler = nullptr;
using SignalHandler = void (*)(int);
SignalHandler g_previous_abort = SIG_DFL;

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* fault) {
  if (g_previous_filter != nullptr) {
    const LONG verdict = g_previous_filter(fault);
    if (verdict == EXCEPTION_CONTINUE_EXECUTION) return verdict;
  }
  if (g_reporting.load(std::memory_order_acquire)) g_reporter->Report(fault);
  return EXCEPTION_EXECUTE_HANDLER;
}

LONG WINAPI OnStackOverflow(EXCEPTION_POINTERS* fault) {
  if (fault->ExceptionRecord->ExceptionCode != EXCEPTION_STACK_OVERFLOW ||
      !g_reporting.load(std::memory_order_acquire)) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  g_reporter->Report(fault);
  TerminateProcess(GetCurrentProcess(), EXCEPTION_STACK_OVERFLOW);
  return EXCEPTION_CONTINUE_SEARCH;
}

void OnAbort(int signal_number) {
  if (g_previous_abort != SIG_DFL && g_previous_abort != SIG_IGN && g_previous_abort != SIG_ERR) {
    g_previous_abort(signal_number);
  }
  if (!g_reporting.load(std::memory_order_acquire)) return;
  FixedText<64> details;
  details.Append("Signal: ").AppendDecimal(signal_number).Append(" (SIGABRT)\n");
  WriteReport("SIGABRT", details.view());
}

}  // namespace

void InstallCrashHandlers() {
  std::lock_guard lock(g_install_mutex);
  PublishLogFolderForReports();
  if (g_reporter == nullptr) g_reporter = new Reporter;
  g_reporter->Start();
  if (!g_filter_in_chain) {
    g_previous_filter = SetUnhandledExceptionFilter(&OnUnhandledException);
    g_filter_in_chain = true;
  }
  if (g_overflow_handler == nullptr) {
    g_overflow_handler = AddVectoredExceptionHandler(0, &OnStackOverflow);
  }
  if (!g_abort_in_chain) {
    g_previous_abort = signal(SIGABRT, &OnAbort);
    g_abort_in_chain = true;
  }
  // abort() of a program without a console would wait in a message box.
  _set_error_mode(_OUT_TO_STDERR);
  g_reporting.store(true, std::memory_order_release);
}

void RemoveCrashHandlers() {
  std::lock_guard lock(g_install_mutex);
  g_reporting.store(false, std::memory_order_release);
  // A filter or handler set on top of ours stays, and keeps calling ours,
  // which only passes on.
  if (g_filter_in_chain) {
    const LPTOP_LEVEL_EXCEPTION_FILTER current = SetUnhandledExceptionFilter(g_previous_filter);
    g_filter_in_chain = current != &OnUnhandledException;
    if (g_filter_in_chain) SetUnhandledExceptionFilter(current);
  }
  if (g_overflow_handler != nullptr) RemoveVectoredExceptionHandler(g_overflow_handler);
  g_overflow_handler = nullptr;
  if (g_abort_in_chain) {
    const SignalHandler current = signal(SIGABRT, g_previous_abort);
    g_abort_in_chain = current != &OnAbort;
    if (g_abort_in_chain) signal(SIGABRT, current);
  }
}

}  // namespace wardex::crashlog
