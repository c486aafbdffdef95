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

TEST(ModuleCache, ReturnsTheSameLoaderWithoutTouchingTheDisk) {
  ModuleTestEnv env;
  const std::string exe = env.root().path() + "/app/wardex";
  const std::string path =
      env.Copy(ModuleTestEnv::FixturePath("test_module"), "app/modules/Test/Test.so");
  ModuleCache cache{KaOSAL::KaPath(test::Wide(exe))};
  EXPECT_EQ(test::Narrow(ModuleLibraryPath(KaOSAL::KaPath(test::Wide(exe)), u"Test").ToString()),
            path);
  EXPECT_EQ(cache.GetModule(u"Test", false), nullptr);
  const std::shared_ptr<ModuleLoader> first = cache.GetModule(u"Test", true);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(first->instance(), nullptr);
  std::filesystem::remove_all(env.root().path() + "/app/modules");
  env.ClearLog();
  EXPECT_EQ(cache.GetModule(u"Test", true), first);
  EXPECT_EQ(cache.GetModule(u"Test", false), first);
  EXPECT_TRUE(env.LogLines().empty());
  EXPECT_EQ(env.Journal(), (std::vector<std::string>{"create " + path}));
}

TEST(ModuleCache, ModuleThatDoesNotLoadIsNotCached) {
  ModuleTestEnv env;
  env.env().Set("WARDEX_TEST_MODULE_KIND", "null");
  env.Copy(ModuleTestEnv::FixturePath("test_module"), "app/modules/Null/Null.so");
  ModuleCache cache{KaOSAL::KaPath(test::Wide(env.root().path() + "/app/wardex"))};
  EXPECT_EQ(cache.GetModule(u"Null", true), nullptr);
  EXPECT_EQ(cache.GetModule(u"Missing", true), nullptr);
  EXPECT_EQ(cache.size(), 0u);
  // Each miss tried again: the null factory ran twice, unloaded in between.
  EXPECT_EQ(cache.GetModule(u"Null", true), nullptr);
  EXPECT_EQ(env.Journal().size(), 2u);
}

TEST(ModuleCache, ConcurrentLookupsLoadOnce) {
  ModuleTestEnv env;
  env.Copy(ModuleTestEnv::FixturePath("test_module"), "app/modules/Test/Test.so");
  ModuleCache cache{KaOSAL::KaPath(test::Wide(env.root().path() + "/app/wardex"))};
  constexpr int kThreads = 8;
  std::vector<std::shared_ptr<ModuleLoader>> seen(kThreads);
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      while (!go) std::this_thread::yield();
      seen[i] = cache.GetModule(u"Test", true);
    });
  }
  go = true;
  for (std::thread& thread : threads) thread.join();
  ASSERT_NE(seen[0], nullptr);
  for (const std::shared_ptr<ModuleLoader>& loader : seen) EXPECT_EQ(loader, seen[0]);
  EXPECT_EQ(env.Journal().size(), 1u);
}

TEST(ModuleCache, RemovedModuleStaysLoadedForItsHolderAndLoadsAgainAfter) {
  ModuleTestEnv env;
  const std::string path =
      env.Copy(ModuleTestEnv::FixturePath("test_module"), "app/modules/Test/Test.so");
  ModuleCache cache{KaOSAL::KaPath(test::Wide(env.root().path() + "/app/wardex"))};
  std::shared_ptr<ModuleLoader> held = cache.GetModule(u"Test", true);
  ASSERT_NE(held, nullptr);
  cache.Remove(u"Test");
  EXPECT_EQ(cache.size(), 0u);
  // The holder is still inside the module: nothing is destroyed yet.
  ASSERT_NE(held->instance(), nullptr);
  EXPECT_EQ(env.Journal(), (std::vector<std::string>{"create " + path}));
  held.reset();
  EXPECT_EQ(env.Journal(), (std::vector<std::string>{"create " + path, "destroy " + path}));
  const std::shared_ptr<ModuleLoader> again = cache.GetModule(u"Test", true);
  ASSERT_NE(again, nullptr);
  EXPECT_NE(again->instance(), nullptr);
}

TEST(ModuleCache, NamesThatLeaveTheModulesFolderAreRefusedUnloaded) {
  ModuleTestEnv env;
  env.Copy(ModuleTestEnv::FixturePath("test_module"), "app/modules/Test/Test.so");
  ModuleCache cache{KaOSAL::KaPath(test::Wide(env.root().path() + "/app/wardex"))};
  for (const char16_t* name : {u"../..", u"Test/../Test", u"..\\Test", u"/tmp/x", u".."}) {
    EXPECT_EQ(cache.GetModule(name, true), nullptr) << test::Narrow(name);
  }
  EXPECT_TRUE(env.Journal().empty());
  EXPECT_EQ(env.LogLines().size(), 5u);
  EXPECT_NE(cache.GetModule(u"Test", true), nullptr);
}

TEST(ModuleCache, ALoadHoldsUpNoLookupOfAnotherModule) {
  ModuleTestEnv env;
  for (const char* name : {"Slow", "Ready"}) {
    env.Copy(ModuleTestEnv::FixturePath("test_module"),
             std::string("app/modules/") + name + "/" + name + ".so");
  }
  ModuleCache cache{KaOSAL::KaPath(test::Wide(env.root().path() + "/app/wardex"))};
  const std::shared_ptr<ModuleLoader> ready = cache.GetModule(u"Ready", true);
  ASSERT_NE(ready, nullptr);
  constexpr int kFactoryMs = 2000;
  env.env().Set("WARDEX_TEST_MODULE_CREATE_MS", std::to_string(kFactoryMs));
  std::thread slow([&] { EXPECT_NE(cache.GetModule(u"Slow", true), nullptr); });
  while (env.Journal().size() < 2) std::this_thread::yield();  // the slow factory runs
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(cache.GetModule(u"Ready", false), ready);
  EXPECT_EQ(cache.size(), 1u) << "the module being made is not cached yet";
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kFactoryMs / 2));
  slow.join();
  EXPECT_EQ(cache.size(), 2u);
}

TEST(ModuleCache, ClearUnloadsEveryModuleAndSnapshotListsThemInNameOrder) {
  ModuleTestEnv env;
  for (const char* name : {"Beta", "Alpha"}) {
    env.Copy(ModuleTestEnv::FixturePath("test_module"),
             std::string("app/modules/") + name + "/" + name + ".so");
  }
  ModuleCache cache{KaOSAL::KaPath(test::Wide(env.root().path() + "/app/wardex"))};
  ASSERT_NE(cache.GetModule(u"Beta", true), nullptr);
  ASSERT_NE(cache.GetModule(u"Alpha", true), nullptr);
  std::vector<std::string> names;
  for (const auto& [name, loader] : cache.Snapshot()) names.push_back(test::Narrow(name));
  EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "Beta"}));
  cache.Clear();
  EXPECT_EQ(cache.size(), 0u);
  int destroyed = 0;
  for (const std::string& line : env.Journal()) destroyed += line.rfind("destroy ", 0) == 0 ? 1 : 0;
  EXPECT_EQ(destroyed, 2);
}

}  // namespace
}  // namespace wardex
