// Forced ends (pthread_cancel) unwind a thread out of a blocking call inside
// the sanitizers' interceptors, which neither sanitizer follows:
// ThreadSanitizer keeps the thread in the blocking call in its books and then
// reports races on all the ending thread touches; AddressSanitizer fails its
// own stack check while unwinding. The tests of forced ends therefore run in
// the default build only.
#pragma once

#include <gtest/gtest.h>

#if defined(WARDEX_UNDER_SANITIZER)
#define SKIP_FORCED_END_UNDER_SANITIZERS() \
  GTEST_SKIP() << "the sanitizers cannot follow a cancelled thread"
#else
#define SKIP_FORCED_END_UNDER_SANITIZERS() static_cast<void>(0)
#endif
