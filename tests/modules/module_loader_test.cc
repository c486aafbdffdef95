// ModuleLoader: the log lines and their order, the instance's lifetime, and
// loaders that load nothing.
#include "modules/module_loader.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "modules/module_test_env.h"

namespace wardex {
namespace {

using test::LoggedLine;
using test::ModuleTestEnv;

// The log texts, with every "(<n>ms)" timing made "(Nms)".
std::vector<std::string> Texts(const ModuleTestEnv& env) {
  static const std::regex kTiming(R"(\(\d+ms\))");
  std::vector<std::string> texts;
  for (const LoggedLine& line : env.LogLines()) {
    EXPECT_EQ(line.level, line.text.rfind("ERROR", 0) == 0 ? 3 : 14) << line.text;
    texts.push_back(std::regex_replace(line.text, kTiming, "(Nms)"));
  }
  return texts;
}

TEST(ModuleLoader, LoadLogsEachStepWithItsTimeAndUnloadingDestroysTheInstance) {
  ModuleTestEnv env;
  const std::string path = env.Copy(test::kTestModule, "modules/Test/Test.so");
  {
    ModuleLoader loader;
    IModule* module = loader.Load(test::Wide(path));
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(loader.Load(u""), module);  // the existing object, nothing logged
    EXPECT_EQ(loader.Load(u"/elsewhere/Other.so"), module);
    EXPECT_EQ(Texts(env), (std::vector<std::string>{
                              "LOAD DLL: " + path,
                              "LOAD DLL DONE: " + path + " (Nms)",
                              "CREATE Instance of " + path,
                              "CREATE Instance of " + path + " DONE (Nms)",
                          }));
    loader.Unload();
    EXPECT_EQ(loader.instance(), nullptr);
    EXPECT_EQ(loader.Load(u""), nullptr);  // emptied: an empty name loads nothing
    EXPECT_NE(loader.Load(test::Wide(path)), nullptr);
  }
  // A new instance, destroyed with the loader.
  EXPECT_EQ(env.Journal(), (std::vector<std::string>{"create " + path, "destroy " + path,
                                                     "create " + path, "destroy " + path}));
}

TEST(ModuleLoader, RefusedLibraryLogsBetweenTheLoadLines) {
  ModuleTestEnv env;
  const std::string path = env.SignedCopy(test::kTestModule, "untrusted", "m/Bad.so");
  ModuleLoader loader;
  EXPECT_EQ(loader.Load(test::Wide(path)), nullptr);
  EXPECT_EQ(Texts(env), (std::vector<std::string>{
                            "LOAD DLL: " + path,
                            "ERROR: FATAL - Not trusted " + path,
                            "LOAD DLL DONE: " + path + " (Nms)",
                        }));
  EXPECT_TRUE(env.Journal().empty());
}

TEST(ModuleLoader, LibraryWithoutFactoryStaysLoadedWithoutInstance) {
  ModuleTestEnv env;
  const std::string path = env.Copy(test::kTestConsole, "m/NoFactory.so");
  ModuleLoader loader;
  EXPECT_EQ(loader.Load(test::Wide(path)), nullptr);
  EXPECT_NE(loader.library(), nullptr);
  EXPECT_EQ(Texts(env),
            (std::vector<std::string>{"LOAD DLL: " + path, "LOAD DLL DONE: " + path + " (Nms)"}));
  loader.Unload();
  EXPECT_EQ(loader.library(), nullptr);
}

}  // namespace
}  // namespace wardex
