// The process's crash handler: a fault that nothing handles is reported in
// a file beside the log before the process ends of it.
//
// Linux: SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGABRT, on an alternate signal
// stack. The handler that was installed before is called first, with the
// same arguments, when it is a function: a structured-exception guard that
// handles the fault jumps back into its guarded region and never returns; a
// handler that returns leaves the fault to us. Then the report is written,
// the default disposition set and the signal raised again, so the process
// dies of its original signal.
//
// Windows: the unhandled-exception filter, and SIGABRT of the C runtime.
// The report and a minidump are written by a thread of the handler's own,
// and the process ends with the exception code as its exit code.
#pragma once

namespace wardex::crashlog {

// Installing again while installed does nothing.
void InstallCrashHandlers();

// Puts back the handlers that were there before. Where another handler has
// been installed on top of ours since (and chains to ours), ours stays in the
// chain but only passes faults on, without reports.
void RemoveCrashHandlers();

}  // namespace wardex::crashlog
