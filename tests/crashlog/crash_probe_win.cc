// The probe program of the crash handler's tests on Windows: fails as its one
// argument says, after writing its main thread's id.
#include <cstdio>

#include "crash_probe.h"

int main(int argc, char** argv) {
  std::printf("%lu\n", GetCurrentThreadId());
  std::fflush(stdout);
  return wardex::test::CommitFault(argc > 1 ? argv[1] : "");
}
