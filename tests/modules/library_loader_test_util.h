// What the library loader and trust check tests ask of a fixture.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "modules/module_library.h"
#include "modules/module_test_env.h"
#include "platform/library_loader.h"

namespace wardex::test {

// Opens and loads |path| without a trust check; null when either fails.
inline platform::LibraryHandle Load(const std::string& path) {
  platform::LibraryFile file;
  if (!file.Open(Wide(path))) return nullptr;
  return platform::LoadLibraryFromFile(std::move(file));
}

inline bool IsModule(platform::LibraryHandle library) {
  return platform::GetProcAddress(library, "CreateInstanceOfModule") != nullptr;
}

inline bool IsConsole(platform::LibraryHandle library) {
  return platform::GetProcAddress(library, "CreateConsole") != nullptr;
}

// Loads |file| and expects the test module from |path| (not the Console).
inline void ExpectLoadsTheModule(platform::LibraryFile file, const std::string& path) {
  platform::LibraryHandle library = platform::LoadLibraryFromFile(std::move(file));
  ASSERT_NE(library, nullptr);
  EXPECT_TRUE(IsModule(library));
  EXPECT_FALSE(IsConsole(library));
  EXPECT_EQ(Narrow(platform::GetLibraryPath(library)), path);
  EXPECT_TRUE(platform::FreeLibrary(library));
}

// Loads |path| through the trust check; true when a library came back.
inline bool LoadsAndFrees(const std::string& path) {
  platform::LibraryHandle library = LoadModuleLibrary(KaOSAL::KaPath(Wide(path)));
  if (library == nullptr) return false;
  EXPECT_TRUE(platform::FreeLibrary(library));
  return true;
}

}  // namespace wardex::test
