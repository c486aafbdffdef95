// The executable's string resources, compiled in: the texts that LoadString
// and FormatMessage find by resource id. The agent's localised texts are not
// here; they come from the language files.
#pragma once

#include "osal/osal_export.h"

namespace KaOSAL {

// Default texts of the tray menu's items (menu resource 130), by command id.
inline constexpr unsigned kIdsMenuStart = 0x8010;
inline constexpr unsigned kIdsMenuExit = 0x8012;
inline constexpr unsigned kIdsMenuOptions = 0x8015;
inline constexpr unsigned kIdsMenuInfo = 0x8016;
inline constexpr unsigned kIdsMenuSnapCheck = 0x8017;
inline constexpr unsigned kIdsMenuTurbo = 0x8018;
inline constexpr unsigned kIdsMenuLastNotification = 0x8019;

// The text of string resource |id|, or null when there is none.
KAOSAL_API const char16_t* FindStringResource(unsigned id);

}  // namespace KaOSAL
