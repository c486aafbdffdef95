// The Windows API for the platform layer's Windows files: the one way they
// include the system's headers.
//
// Our neutral headers use the names Windows gives its constants, types and
// functions (WM_CLOSE, MB_OK, HKEY_CURRENT_USER, PostMessage, MessageBox,
// KaString::FormatMessage...), with the Windows values, in our namespaces.
// <windows.h> defines many of these names as macros, which would rewrite ours:
// this header includes every system header the Windows files use and then
// removes those macros. Windows files call the wide functions by their full
// names (PostMessageW, FormatMessageW) and use our constants, which carry the
// same values. The Windows build compiles every project header after this
// one, so a new clash fails the build. Neutral headers never include it.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <aclapi.h>
#include <bcrypt.h>
#include <commctrl.h>
#include <wincrypt.h>
#include <wininet.h>
#include <wintrust.h>
#include <imagehlp.h>
#include <dbghelp.h>
#include <iphlpapi.h>
#include <knownfolders.h>
#include <lmcons.h>
#include <lmapibuf.h>
#include <lmerr.h>
#include <lmwksta.h>
#include <mstask.h>
#include <netlistmgr.h>
#include <sddl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <softpub.h>
#include <tlhelp32.h>
#include <userenv.h>
#include <wtsapi32.h>
// clang-format on

#undef FormatMessage
#undef GetPrivateProfileString
#undef LoadLibrary
#undef LoadString
#undef MessageBox
#undef ModifyMenu
#undef PostMessage
#undef RegCreateKey
#undef RegDeleteKey
#undef RegDeleteTree
#undef RegDeleteValue
#undef RegOpenKey
#undef RegQueryValue
#undef RegSetValue
#undef RegisterWindowMessage
#undef SendMessage
#undef SendMessageTimeout
#undef SetCurrentDirectory
#undef Shell_NotifyIcon
#undef WritePrivateProfileString
#undef WriteProfileString
#undef YieldProcessor
#undef WM_APP
#undef WM_CLOSE
#undef WM_COMMAND
#undef WM_CONTEXTMENU
#undef WM_CREATE
#undef WM_DESTROY
#undef WM_LBUTTONDBLCLK
#undef WM_LBUTTONDOWN
#undef WM_LBUTTONUP
#undef WM_MOUSEMOVE
#undef WM_NULL
#undef WM_QUIT
#undef WM_RBUTTONDBLCLK
#undef WM_RBUTTONDOWN
#undef WM_RBUTTONUP
#undef WM_SETTINGCHANGE
#undef WM_TIMER
#undef WM_USER
#undef NIN_BALLOONHIDE
#undef NIN_BALLOONSHOW
#undef NIN_BALLOONTIMEOUT
#undef NIN_BALLOONUSERCLICK
#undef NIN_KEYSELECT
#undef NIN_SELECT
#undef SPI_SETWORKAREA
#undef MF_BYCOMMAND
#undef MF_BYPOSITION
#undef MF_CHECKED
#undef MF_DEFAULT
#undef MF_DISABLED
#undef MF_ENABLED
#undef MF_GRAYED
#undef MF_POPUP
#undef MF_SEPARATOR
#undef MF_STRING
#undef MF_UNCHECKED
#undef NIM_ADD
#undef NIM_DELETE
#undef NIM_MODIFY
#undef NIM_SETFOCUS
#undef NIM_SETVERSION
#undef NIF_ICON
#undef NIF_INFO
#undef NIF_MESSAGE
#undef NIF_STATE
#undef NIF_TIP
#undef NIS_HIDDEN
#undef NIIF_ERROR
#undef NIIF_INFO
#undef NIIF_NONE
#undef NIIF_WARNING
#undef MB_DEFBUTTON2
#undef MB_ICONQUESTION
#undef MB_OK
#undef MB_OKCANCEL
#undef IDCANCEL
#undef IDOK
#undef HKEY_CLASSES_ROOT
#undef HKEY_CURRENT_CONFIG
#undef HKEY_CURRENT_USER
#undef HKEY_LOCAL_MACHINE
#undef HKEY_PERFORMANCE_DATA
#undef HKEY_USERS
#undef KEY_QUERY_VALUE
#undef KEY_READ
#undef KEY_SET_VALUE
#undef KEY_WOW64_32KEY
#undef KEY_WOW64_64KEY
#undef KEY_WRITE
#undef REG_BINARY
#undef REG_DWORD
#undef REG_EXPAND_SZ
#undef REG_NONE
#undef REG_QWORD
#undef REG_SZ
#undef ERROR_INVALID_WINDOW_HANDLE
#undef ERROR_RESOURCE_NAME_NOT_FOUND
#undef ERROR_RESOURCE_TYPE_NOT_FOUND
#undef ERROR_TIMEOUT
