// Hardware faults become structured exceptions through one process-wide
// handler for SIGSEGV, SIGBUS, SIGFPE and SIGILL. On the faulting thread it
// jumps (siglongjmp) into the innermost active guard, which then asks the
// filter. The handler runs on an alternate signal stack that each guarded
// thread gets, so that a stack overflow is caught as well.
//
// Chaining with the crash handler of libcrashlog: the first guard of the
// process installs our handler once, on top of whatever is there. A fault
// outside any guard, and every such signal that the kernel did not raise for
// a fault (kill, raise, tgkill), is handed to the handler installed before
// ours, normally the crash handler, which reports and ends the process. A
// crash handler installed after ours calls ours first (its documented
// contract): for a guarded fault ours jumps into the guard and never returns,
// otherwise ours returns and the crash handler reports.
#include "platform/seh_guard.h"
#include "platform/seh_guard_internal.h"

#include <pthread.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstddef>
#include <mutex>

namespace wardex::platform {
namespace {

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
constexpr size_t kFaultSignalCount = sizeof(kFaultSignals) / sizeof(kFaultSignals[0]);
constexpr size_t kAltStackSize = 128 * 1024;
// A fault this close below the lowest usable stack address is an overflow.
constexpr uintptr_t kOverflowZone = 1024 * 1024;

struct GuardFrame {
  sigjmp_buf jump;
  GuardFrame* outer = nullptr;
  WardexExceptionRecord fault{};
};

thread_local GuardFrame* t_innermost = nullptr;

// The thread's alternate signal stack (unless it had one) and stack bounds.
class ThreadGuardSetup {
 public:
  ThreadGuardSetup() {
    RecordStackBounds();
    stack_t current{};
    if (sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) == 0) return;
    void* memory = mmap(nullptr, kAltStackSize, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (memory == MAP_FAILED) return;
    stack_t ours{};
    ours.ss_sp = memory;
    ours.ss_size = kAltStackSize;
    if (sigaltstack(&ours, nullptr) != 0) {
      munmap(memory, kAltStackSize);
      return;
    }
    alt_stack_ = memory;
  }
  ~ThreadGuardSetup() {
    if (alt_stack_ == nullptr) return;
    stack_t off{};
    off.ss_flags = SS_DISABLE;
    sigaltstack(&off, nullptr);
    munmap(alt_stack_, kAltStackSize);
  }
  ThreadGuardSetup(const ThreadGuardSetup&) = delete;
  ThreadGuardSetup& operator=(const ThreadGuardSetup&) = delete;

  // True when |address| lies just below the usable stack of the thread.
  bool IsStackOverflow(uintptr_t address) const {
    return stack_low_ != 0 && address < stack_low_ + page_size_ &&
           address + kOverflowZone >= stack_low_;
  }

 private:
  void RecordStackBounds() {
    page_size_ = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0) return;
    void* address = nullptr;
    size_t size = 0;
    if (pthread_attr_getstack(&attributes, &address, &size) == 0) {
      stack_low_ = reinterpret_cast<uintptr_t>(address);
    }
    pthread_attr_destroy(&attributes);
  }

  void* alt_stack_ = nullptr;
  uintptr_t stack_low_ = 0;
  uintptr_t page_size_ = 4096;
};

thread_local const ThreadGuardSetup* t_setup = nullptr;

struct sigaction g_previous[kFaultSignalCount];

size_t SignalIndex(int signal_number) {
  for (size_t i = 0; i < kFaultSignalCount; ++i) {
    if (kFaultSignals[i] == signal_number) return i;
  }
  return 0;
}

// Returns the address of the faulting instruction, as Windows reports it.
const void* FaultAddress(const siginfo_t* info, void* context) {
#if defined(__x86_64__)
  if (context != nullptr) {
    const auto* user_context = static_cast<const ucontext_t*>(context);
    return reinterpret_cast<const void*>(user_context->uc_mcontext.gregs[REG_RIP]);
  }
#else
  (void)context;
#endif
  return info->si_addr;
}

// Hands the signal to the handler installed before ours. A default or
// ignored disposition is restored to the default, so that the fault, when
// the instruction runs again, ends the process as it would without us.
void ForwardToPrevious(int signal_number, siginfo_t* info, void* context) {
  const struct sigaction& previous = g_previous[SignalIndex(signal_number)];
  if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr) {
    previous.sa_sigaction(signal_number, info, context);
  } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
    previous.sa_handler(signal_number);
  } else {
    signal(signal_number, SIG_DFL);
    if (info->si_code <= 0) raise(signal_number);
  }
}

// The Windows code for a hardware fault: one table over signal and si_code.
uint32_t ExceptionCodeForSignal(int signal_number, int signal_code) {
  struct Row {
    int signal_number;
    int signal_code;  // 0 matches every code of the signal
    uint32_t code;
  };
  static constexpr Row kTable[] = {
      {SIGSEGV, SI_KERNEL, kExceptionPrivilegedInstruction},
      {SIGSEGV, 0, kExceptionAccessViolation},
      {SIGBUS, BUS_ADRALN, kExceptionDatatypeMisalignment},
      {SIGBUS, 0, kExceptionInPageError},
      {SIGFPE, FPE_INTDIV, kExceptionIntDivideByZero},
      {SIGFPE, FPE_INTOVF, kExceptionIntOverflow},
      {SIGFPE, FPE_FLTDIV, kExceptionFloatDivideByZero},
      {SIGFPE, FPE_FLTOVF, kExceptionFloatOverflow},
      {SIGFPE, FPE_FLTUND, kExceptionFloatUnderflow},
      {SIGFPE, FPE_FLTRES, kExceptionFloatInexactResult},
      {SIGFPE, FPE_FLTSUB, kExceptionArrayBoundsExceeded},
      {SIGFPE, 0, kExceptionFloatInvalidOperation},
      {SIGILL, ILL_PRVOPC, kExceptionPrivilegedInstruction},
      {SIGILL, ILL_PRVREG, kExceptionPrivilegedInstruction},
      {SIGILL, 0, kExceptionIllegalInstruction},
  };
  for (const Row& row : kTable) {
    if (row.signal_number == signal_number &&
        (row.signal_code == 0 || row.signal_code == signal_code)) {
      return row.code;
    }
  }
  return kExceptionAccessViolation;
}

void OnFaultSignal(int signal_number, siginfo_t* info, void* context) {
  GuardFrame* frame = t_innermost;
  // si_code > 0 means the kernel raised it for a fault of this thread.
  if (frame == nullptr || info->si_code <= 0) {
    ForwardToPrevious(signal_number, info, context);
    return;
  }
  uint32_t code = ExceptionCodeForSignal(signal_number, info->si_code);
  if (signal_number == SIGSEGV && t_setup != nullptr &&
      t_setup->IsStackOverflow(reinterpret_cast<uintptr_t>(info->si_addr))) {
    code = kExceptionStackOverflow;
  }
  frame->fault = {code, FaultAddress(info, context), signal_number, info->si_code};
  siglongjmp(frame->jump, 1);
}

// Puts our handler in front of the fault signals, once per process.
void InstallHandlers() {
  static std::once_flag installed;
  std::call_once(installed, [] {
    struct sigaction ours {};
    ours.sa_sigaction = &OnFaultSignal;
    ours.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&ours.sa_mask);
    for (size_t i = 0; i < kFaultSignalCount; ++i) {
      sigaction(kFaultSignals[i], &ours, &g_previous[i]);
    }
  });
}

void PrepareThread() {
  thread_local ThreadGuardSetup setup;
  t_setup = &setup;
  InstallHandlers();
}

}  // namespace

bool RunGuarded(const std::function<void()>& body, const ExceptionFilterFunction& filter,
                WardexExceptionRecord* caught) {
  PrepareThread();
  GuardFrame frame;
  frame.outer = t_innermost;
  if (sigsetjmp(frame.jump, 1) == 0) {
    t_innermost = &frame;
    return RunCatchingCppExceptions(body, filter, caught, [&] { t_innermost = frame.outer; });
  }
  // Back from a fault of the body.
  t_innermost = frame.outer;
  if (FilterHandles(frame.fault, filter, caught)) return false;
  throw StructuredException(frame.fault);
}

}  // namespace wardex::platform
