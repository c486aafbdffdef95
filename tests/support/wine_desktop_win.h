// What Windows tests see and do on the display Wine draws on (Xvfb in the
// stage): Wine's own tray window and its icons, their pixels, clicks and
// keys; and the test authority made a root of the Wine prefix.
#pragma once

#include <windows.h>

#include <chrono>
#include <initializer_list>
#include <string>
#include <vector>

namespace wardex::test {

// The fill colours of the two icon drawings (scripts/make_tray_icons.py).
inline constexpr COLORREF kTrayBlue = RGB(33, 102, 196);
inline constexpr COLORREF kBusyAmber = RGB(232, 150, 20);

// The icon windows in Wine's own tray window.
std::vector<HWND> TrayIconWindows();
// How many pixels on the screen inside |window| have the colour |rgb|.
int PixelsOfColour(HWND window, COLORREF rgb);
// Clicks the middle of |window| with one button.
void Click(HWND window, DWORD down, DWORD up);
// Posts key presses straight into |window|'s queue: which window has the
// keyboard is the window manager's business, and Xvfb has none.
void PostKeys(HWND window, std::initializer_list<WORD> keys);
// The first visible top-level window of |window_class| (and |title|),
// waited for; null when none came.
HWND WaitForWindow(const wchar_t* window_class, const wchar_t* title = nullptr,
                   std::chrono::milliseconds patience = std::chrono::seconds(10));

// Adds the certificate in the PEM file |pem_path| to the machine's root
// store, only in a Wine prefix: on a real machine a test must never add a
// root authority. False when it could not be added.
bool TrustRootInWinePrefix(const std::string& pem_path);

}  // namespace wardex::test
