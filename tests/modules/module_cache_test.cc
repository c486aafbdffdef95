// The module cache: path rule, one loader per name, no module code under its lock.
#include "modules/module_cache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "modules/module_test_env.h"

namespace wardex {
namespace {

using test::ModuleTestEnv;

// A cache for the program app/wardex of a test folder, whose modules folder
// gets the test module under the names each test installs.
class ModuleCacheTest : public ::testing::Test {
 protected:
  std::string Install(const std::string& name) {
    return env_.Copy(test::kTestModule, "app/modules/" + name + "/" + name + test::kLibrarySuffix);
  }
  ModuleTestEnv env_;
  ModuleCache cache_{KaOSAL::KaPath(test::Wide(env_.root().path() + "/app/wardex"))};
};

TEST_F(ModuleCacheTest, ReturnsTheSameLoaderWithoutTouchingTheDisk) {
  const std::string path = Install("Test");
  EXPECT_EQ(cache_.GetModule(u"Test", false), nullptr);
  const std::shared_ptr<ModuleLoader> first = cache_.GetModule(u"Test", true);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(first->instance(), nullptr);
  // Windows keeps a loaded library's file (the error is ignored there): the
  // empty log shows that nothing was loaded again.
  std::error_code kept;
  std::filesystem::remove_all(env_.root().path() + "/app/modules", kept);
  env_.ClearLog();
  EXPECT_EQ(cache_.GetModule(u"Test", true), first);
  EXPECT_EQ(cache_.GetModule(u"Test", false), first);
  EXPECT_TRUE(env_.LogLines().empty());
  EXPECT_EQ(env_.Journal(), (std::vector<std::string>{"create " + path}));
}

TEST_F(ModuleCacheTest, WhatDoesNotLoadIsNotCachedAndNamesOutsideTheFolderLoadNothing) {
  Install("Test");
  for (const char16_t* name : {u"../..", u"Test/../Test", u"..\\Test", u"/tmp/x", u".."}) {
    EXPECT_EQ(cache_.GetModule(name, true), nullptr) << test::Narrow(name);
  }
  EXPECT_TRUE(env_.Journal().empty());
  EXPECT_EQ(env_.LogLines().size(), 5u);
  env_.env().Set("WARDEX_TEST_MODULE_KIND", "null");
  Install("Null");
  EXPECT_EQ(cache_.GetModule(u"Null", true), nullptr);
  EXPECT_EQ(cache_.GetModule(u"Missing", true), nullptr);
  EXPECT_EQ(cache_.size(), 0u);
  // Each miss tried again: the null factory ran twice, unloaded in between.
  EXPECT_EQ(cache_.GetModule(u"Null", true), nullptr);
  EXPECT_EQ(env_.Journal().size(), 2u);
}

TEST_F(ModuleCacheTest, ConcurrentLookupsLoadOnce) {
  Install("Test");
  constexpr int kThreads = 8;
  std::vector<std::shared_ptr<ModuleLoader>> seen(kThreads);
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      while (!go) std::this_thread::yield();
      seen[i] = cache_.GetModule(u"Test", true);
    });
  }
  go = true;
  for (std::thread& thread : threads) thread.join();
  ASSERT_NE(seen[0], nullptr);
  for (const std::shared_ptr<ModuleLoader>& loader : seen) EXPECT_EQ(loader, seen[0]);
  EXPECT_EQ(env_.Journal().size(), 1u);
}

TEST_F(ModuleCacheTest, RemovedModuleStaysLoadedForItsHolderAndLoadsAgainAfter) {
  const std::string path = Install("Test");
  std::shared_ptr<ModuleLoader> held = cache_.GetModule(u"Test", true);
  ASSERT_NE(held, nullptr);
  cache_.Remove(u"Test");
  EXPECT_EQ(cache_.size(), 0u);
  // The holder is still inside the module: nothing is destroyed yet.
  ASSERT_NE(held->instance(), nullptr);
  EXPECT_EQ(env_.Journal(), (std::vector<std::string>{"create " + path}));
  held.reset();
  EXPECT_EQ(env_.Journal(), (std::vector<std::string>{"create " + path, "destroy " + path}));
  const std::shared_ptr<ModuleLoader> again = cache_.GetModule(u"Test", true);
  ASSERT_NE(again, nullptr);
  EXPECT_NE(again->instance(), nullptr);
}

TEST_F(ModuleCacheTest, ALoadHoldsUpNoLookupOfAnotherModule) {
  for (const char* name : {"Slow", "Ready"}) Install(name);
  const std::shared_ptr<ModuleLoader> ready = cache_.GetModule(u"Ready", true);
  ASSERT_NE(ready, nullptr);
  constexpr int kFactoryMs = 2000;
  env_.env().Set("WARDEX_TEST_MODULE_CREATE_MS", std::to_string(kFactoryMs));
  std::thread slow([&] { EXPECT_NE(cache_.GetModule(u"Slow", true), nullptr); });
  while (env_.Journal().size() < 2) std::this_thread::yield();  // the slow factory runs
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(cache_.GetModule(u"Ready", false), ready);
  EXPECT_EQ(cache_.size(), 1u) << "the module being made is not cached yet";
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kFactoryMs / 2));
  slow.join();
  EXPECT_EQ(cache_.size(), 2u);
}

TEST_F(ModuleCacheTest, ClearUnloadsEveryModuleAndSnapshotListsThemInNameOrder) {
  for (const char* name : {"Beta", "Alpha"}) Install(name);
  ASSERT_NE(cache_.GetModule(u"Beta", true), nullptr);
  ASSERT_NE(cache_.GetModule(u"Alpha", true), nullptr);
  std::vector<std::string> names;
  for (const auto& [name, loader] : cache_.Snapshot()) names.push_back(test::Narrow(name));
  EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "Beta"}));
  cache_.Clear();
  EXPECT_EQ(cache_.size(), 0u);
  int destroyed = 0;
  for (const std::string& line : env_.Journal())
    destroyed += line.rfind("destroy ", 0) == 0 ? 1 : 0;
  EXPECT_EQ(destroyed, 2);
}

}  // namespace
}  // namespace wardex
