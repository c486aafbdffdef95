// Real faults for the tests of the guards and the crash handler, kept from
// the undefined-behaviour sanitizer, which would report them before the
// hardware does.
#pragma once

#if !defined(_WIN32)
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#endif

#include <climits>

namespace wardex::test {

// A read, so that threads faulting at once do not race on address 0.
__attribute__((no_sanitize("undefined"))) inline void DereferenceNull() {
  (void)*static_cast<volatile int*>(nullptr);
}

__attribute__((no_sanitize("undefined"))) inline void DivideByZero() {
  // Both volatile: 1 / x alone compiles to compares, without a division.
  volatile int dividend = 7;
  volatile int zero = 0;
  volatile int result = dividend / zero;
  (void)result;
}

// Deeper than any stack, in frames well below a page: Wine needs some stack
// left below the guard page to hand the overflow to a handler at all.
__attribute__((noinline)) inline int Recurse(int depth) {
  volatile char frame[256];
  frame[0] = static_cast<char>(depth);
  if (depth == INT_MAX) return frame[0];
  return Recurse(depth + 1) + frame[0];
}
inline void OverflowTheStack() { (void)Recurse(0); }

#if !defined(_WIN32)
// Touches a page of a file mapping that lies beyond the end of the file.
inline void TouchBeyondEndOfFile() {
  char path[] = "/tmp/wardex-sigbus-XXXXXX";
  const int fd = mkstemp(path);
  unlink(path);
  auto* page = static_cast<volatile char*>(mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0));
  close(fd);
  (void)page[0];
}
#endif

}  // namespace wardex::test
