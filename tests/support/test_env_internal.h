// What the shared fixtures need from the system they run on.
#pragma once

#include <string>

namespace wardex::test {

// A new, empty folder of its own below the system's temporary folder.
std::string MakeTemporaryFolder();
// A folder only its owner may enter.
void MakePrivateFolder(const std::string& path);
// Lets every user enter |path| and read what it holds.
void OpenToEveryone(const std::string& path);

}  // namespace wardex::test
