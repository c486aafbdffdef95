// Exports of the OS abstraction layer's classes and functions. The library
// is built with hidden visibility (a DLL exports nothing by default); only
// what carries KAOSAL_API is seen by the executable and by plug-ins.
#pragma once

#if defined(_WIN32)
#if defined(KAOSAL_BUILDING)
#define KAOSAL_API __declspec(dllexport)
#else
#define KAOSAL_API __declspec(dllimport)
#endif
#elif defined(KAOSAL_BUILDING)
#define KAOSAL_API __attribute__((visibility("default")))
#else
#define KAOSAL_API
#endif
