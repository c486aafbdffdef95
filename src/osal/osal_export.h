// Visibility of the OS abstraction layer's exported classes and functions.
// libkaosal.so is built with hidden visibility; only what carries KAOSAL_API
// is seen by the executable and by plug-ins.
#pragma once

#if defined(KAOSAL_BUILDING)
#define KAOSAL_API __attribute__((visibility("default")))
#else
#define KAOSAL_API
#endif
