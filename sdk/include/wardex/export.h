// Export macros of the plug-in contract.
//
// The agent and its plug-ins are built with hidden visibility. The interfaces
// carry WARDEX_INTERFACE so that their type information is visible across
// separately loaded libraries (the host converts a module's window object to
// IConsoleView with dynamic_cast); the C entry points carry WARDEX_EXPORT.
#pragma once

#define WARDEX_INTERFACE __attribute__((visibility("default")))

#if defined(__cplusplus)
#define WARDEX_EXPORT extern "C" __attribute__((visibility("default")))
#else
#define WARDEX_EXPORT __attribute__((visibility("default")))
#endif

// The destroy exports and the callbacks used the callee-cleans-stack convention
// of 32-bit Windows; x86-64 Linux has a single calling convention, so the macro
// only marks the places that must keep it on such a platform.
#define WARDEX_STDCALL
