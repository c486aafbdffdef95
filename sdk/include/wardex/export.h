// Export macros of the plug-in contract.
//
// The agent and its plug-ins are built with hidden visibility. The interfaces
// carry WARDEX_INTERFACE so that their type information is visible across
// separately loaded libraries (the host converts a module's window object to
// IConsoleView with dynamic_cast); the C entry points carry WARDEX_EXPORT.
#pragma once

#if defined(_WIN32)
// A DLL exports only what is marked; type information needs no mark there,
// since the C++ runtime compares it by name across modules.
#define WARDEX_INTERFACE
#define WARDEX_EXPORT_ATTRIBUTE __declspec(dllexport)
// The destroy exports and the callbacks use the callee-cleans-stack
// convention of 32-bit Windows (64-bit Windows has one convention and
// ignores it).
#define WARDEX_STDCALL __stdcall
#else
#define WARDEX_INTERFACE __attribute__((visibility("default")))
#define WARDEX_EXPORT_ATTRIBUTE __attribute__((visibility("default")))
// x86-64 Linux has a single calling convention, so the macro only marks the
// places that must keep the callee-cleans-stack one on 32-bit Windows.
#define WARDEX_STDCALL
#endif

#if defined(__cplusplus)
#define WARDEX_EXPORT extern "C" WARDEX_EXPORT_ATTRIBUTE
#else
#define WARDEX_EXPORT WARDEX_EXPORT_ATTRIBUTE
#endif
