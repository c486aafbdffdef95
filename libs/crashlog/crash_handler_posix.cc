#include "crash_handler.h"

#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>

#include "crash_report.h"
#include "fixed_text.h"
#include "log_file.h"

namespace wardex::crashlog {
namespace {

// Enough for the report and backtrace_symbols_fd, also under the sanitizers.
constexpr size_t kAlternateStackSize = 256 * 1024;

struct SignalSlot {
  int signal_number;
  const char* name;
  struct sigaction previous;
  bool in_chain;  // our handler is installed (possibly under another one)
};

SignalSlot g_slots[] = {
    {SIGSEGV, "SIGSEGV", {}, false}, {SIGBUS, "SIGBUS", {}, false},   {SIGFPE, "SIGFPE", {}, false},
    {SIGILL, "SIGILL", {}, false},   {SIGABRT, "SIGABRT", {}, false},
};

std::mutex g_install_mutex;
// Whether a fatal signal gets a report; false once removed.
std::atomic<bool> g_reporting{false};

SignalSlot* FindSlot(int signal_number) {
  for (SignalSlot& slot : g_slots) {
    if (slot.signal_number == signal_number) return &slot;
  }
  return nullptr;
}

bool IsFunction(const struct sigaction& action) {
  if (action.sa_flags & SA_SIGINFO) return action.sa_sigaction != nullptr;
  return action.sa_handler != SIG_DFL && action.sa_handler != SIG_IGN;
}

void CallPrevious(const struct sigaction& previous, int signal_number, siginfo_t* info,
                  void* context) {
  if (!IsFunction(previous)) return;
  if (previous.sa_flags & SA_SIGINFO) {
    previous.sa_sigaction(signal_number, info, context);
  } else {
    previous.sa_handler(signal_number);
  }
}

// Returns the address of the instruction that was running, where known.
uintptr_t InstructionAddress(const void* context) {
#if defined(__x86_64__)
  if (context != nullptr) {
    return static_cast<uintptr_t>(
        static_cast<const ucontext_t*>(context)->uc_mcontext.gregs[REG_RIP]);
  }
#else
  (void)context;
#endif
  return 0;
}

void WriteSignalReport(const SignalSlot& slot, const siginfo_t* info, const void* context) {
  FixedText<512> details;
  details.Append("Signal: ").AppendDecimal(slot.signal_number).Append(" (").Append(slot.name);
  details.Append("), code ").AppendDecimal(info != nullptr ? info->si_code : 0);
  const auto address = reinterpret_cast<uintptr_t>(info != nullptr ? info->si_addr : nullptr);
  details.Append("\nFault address: 0x").AppendHex(address, 2 * sizeof(void*));
  details.Append("\nInstruction: 0x").AppendHex(InstructionAddress(context), 2 * sizeof(void*));
  details.Append("\n");
  WriteReport(slot.name, details.view());
}

void DieOf(int signal_number) {
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal_number, &fallback, nullptr);
  // Still blocked while this handler runs: delivered, and fatal, on return.
  raise(signal_number);
}

void OnFatalSignal(int signal_number, siginfo_t* info, void* context) {
  const int saved_errno = errno;
  SignalSlot* slot = FindSlot(signal_number);
  if (slot != nullptr) {
    CallPrevious(slot->previous, signal_number, info, context);
    if (g_reporting.load(std::memory_order_acquire)) WriteSignalReport(*slot, info, context);
  }
  DieOf(signal_number);
  errno = saved_errno;
}

bool IsOurs(const struct sigaction& action) {
  return (action.sa_flags & SA_SIGINFO) && action.sa_sigaction == OnFatalSignal;
}

// Gives the calling thread an alternate stack unless it has one, so that a
// stack overflow can still be reported. Only the first installer's thread
// gets this one; threads made by the platform layer bring their own.
void EnsureAlternateStack() {
  alignas(64) static char stack_memory[kAlternateStackSize];
  static bool given = false;
  stack_t current{};
  if (given || sigaltstack(nullptr, &current) != 0 || !(current.ss_flags & SS_DISABLE)) return;
  stack_t stack{};
  stack.ss_sp = stack_memory;
  stack.ss_size = sizeof(stack_memory);
  given = sigaltstack(&stack, nullptr) == 0;
}

}  // namespace

void InstallCrashHandlers() {
  std::lock_guard lock(g_install_mutex);
  PrepareBacktrace();
  PublishLogFolderForReports();
  EnsureAlternateStack();
  struct sigaction ours {};
  ours.sa_sigaction = OnFatalSignal;
  ours.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&ours.sa_mask);
  for (SignalSlot& slot : g_slots) {
    if (slot.in_chain) continue;
    slot.in_chain = sigaction(slot.signal_number, &ours, &slot.previous) == 0;
  }
  g_reporting.store(true, std::memory_order_release);
}

void RemoveCrashHandlers() {
  std::lock_guard lock(g_install_mutex);
  g_reporting.store(false, std::memory_order_release);
  for (SignalSlot& slot : g_slots) {
    struct sigaction current {};
    if (!slot.in_chain || sigaction(slot.signal_number, nullptr, &current) != 0) continue;
    if (IsOurs(current))
      slot.in_chain = sigaction(slot.signal_number, &slot.previous, nullptr) != 0;
  }
}

}  // namespace wardex::crashlog
