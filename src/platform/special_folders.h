// The platform's special-folder query, which KaPath's special folders come
// from. Built into libkaosal (osal sits below the platform and cannot link
// it); it includes no header of this project, so that layer can use it.
#pragma once

#include <string>

namespace wardex::platform {

// The folder for temporary files, with or without a trailing separator.
[[nodiscard]] std::u16string TemporaryFolderPath();
// The full path of the running executable; empty with the last error set.
[[nodiscard]] std::u16string ExecutableFilePath();

}  // namespace wardex::platform
