// The window message types and numbers of the Windows user interface, kept
// with their Windows values: other programs send these numbers (WM_COMMAND
// with the tray menu's commands) and the agent's own private messages are
// counted from them.
#pragma once

#include <cstdint>

namespace wardex::platform {

struct WindowHandle;
// An opaque window handle; never reused within the process.
using HWND = WindowHandle*;
using UINT = uint32_t;
using UINT_PTR = uintptr_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

inline constexpr UINT WM_NULL = 0x0000;
inline constexpr UINT WM_CREATE = 0x0001;
inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_SETTINGCHANGE = 0x001A;
inline constexpr UINT WM_CONTEXTMENU = 0x007B;
inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr UINT WM_TIMER = 0x0113;
inline constexpr UINT WM_MOUSEMOVE = 0x0200;
inline constexpr UINT WM_LBUTTONDOWN = 0x0201;
inline constexpr UINT WM_LBUTTONUP = 0x0202;
inline constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
inline constexpr UINT WM_RBUTTONDOWN = 0x0204;
inline constexpr UINT WM_RBUTTONUP = 0x0205;
inline constexpr UINT WM_RBUTTONDBLCLK = 0x0206;
inline constexpr UINT WM_USER = 0x0400;
inline constexpr UINT WM_APP = 0x8000;

// Notification-icon events that arrive as the icon's callback message.
inline constexpr UINT NIN_SELECT = WM_USER + 0;
inline constexpr UINT NIN_KEYSELECT = WM_USER + 1;
inline constexpr UINT NIN_BALLOONSHOW = WM_USER + 2;
inline constexpr UINT NIN_BALLOONHIDE = WM_USER + 3;
inline constexpr UINT NIN_BALLOONTIMEOUT = WM_USER + 4;
inline constexpr UINT NIN_BALLOONUSERCLICK = WM_USER + 5;

// WM_SETTINGCHANGE's wparam when the desktop's work area changed.
inline constexpr WPARAM SPI_SETWORKAREA = 0x002F;

// Error codes the window layer sets as the last error.
inline constexpr uint32_t ERROR_INVALID_WINDOW_HANDLE = 1400;
inline constexpr uint32_t ERROR_TIMEOUT = 1460;

// The low 16 bits of a message parameter (LOWORD).
constexpr UINT LowWord(uintptr_t value) { return static_cast<UINT>(value & 0xFFFF); }

}  // namespace wardex::platform
