// Names of the kernel objects through which the suite's programs and modules
// meet the agent. On Linux they live in the user's runtime folder
// ($XDG_RUNTIME_DIR/wardex/, else /tmp/wardex-<uid>/): a semaphore exists while
// its creator holds a flock on its file; an event keeps its signalled state in
// its file and is visible to every process of the user.
#pragma once

namespace wardex {

// Exists for the life of the running agent: its existence is the whole signal.
inline constexpr char16_t kSingleInstanceSemaphoreName[] =
    u"{AD430A98-40F9-4dc6-AC5C-00F40F3A5DF1}";

// Exists while the suite's starter program runs.
inline constexpr char16_t kStarterSemaphoreName[] = u"{B0F212ED-8107-4142-99BF-C1D0A6336231}";

// Manual-reset event that the Wardex module signals while it has a notification
// to show again; the agent enables its "last notification" menu entry then.
inline constexpr char16_t kLastNotificationEventName[] = u"WARDEX_LASTNOTIFICATIONEVENT";

}  // namespace wardex
