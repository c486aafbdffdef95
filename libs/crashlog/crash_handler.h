// The process's crash handler for SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGABRT.
//
// Chaining: the handler that was installed before is called first, with the
// same arguments, when it is a function. A structured-exception guard that
// handles the fault jumps back into its guarded region and never returns; a
// handler that returns leaves the fault to us. Then the report is written,
// the default disposition set and the signal raised again, so the process
// dies of its original signal.
#pragma once

namespace wardex::crashlog {

// Installs the handler on an alternate signal stack. Installing again while
// installed does nothing.
void InstallFatalSignalHandlers();

// Puts back the handlers that were there before. Where another handler has
// been installed on top of ours since (and chains to ours), ours stays in the
// chain but only passes signals on, without reports.
void RemoveFatalSignalHandlers();

}  // namespace wardex::crashlog
