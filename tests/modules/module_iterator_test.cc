// CModuleIterator: which folders and files it visits, in which order, and
// what it reports.
#include "modules/module_iterator.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modules/module_test_env.h"

namespace wardex {
namespace {

using test::ModuleTestEnv;

class ModuleIteratorTest : public ::testing::Test {
 protected:
  // modules/ holding AlphaModule/AlphaModule.so, betamodule/BETAMODULE.so (other
  // case), GammaModule/other.so (not named after its folder) and a file
  // DeltaModule that is no folder.
  void SetUp() override {
    const std::string module = ModuleTestEnv::FixturePath("test_module");
    modules_ = env_.root().path() + "/app/modules";
    for (const char* file :
         {"AlphaModule/AlphaModule.so", "betamodule/BETAMODULE.so", "GammaModule/other.so"}) {
      env_.Copy(module, modules_ + "/" + file);
    }
    env_.Copy(module, modules_ + "/DeltaModule");
  }

  // The paths that |event| lines of the journal name, in order.
  std::vector<std::string> Journaled(const std::string& event) const {
    std::vector<std::string> paths;
    for (const std::string& line : env_.Journal()) {
      if (line.rfind(event + " ", 0) == 0) paths.push_back(line.substr(event.size() + 1));
    }
    return paths;
  }

  ModuleTestEnv env_;
  std::string modules_;
};

// The agent registers its hooked modules by name, one at a time.
TEST_F(ModuleIteratorTest, RegistersTheNamedModuleWhateverItsCaseAndUnloadsIt) {
  CModuleIterator iterator{KaOSAL::KaPath(test::Wide(modules_ + "/"))};
  EXPECT_TRUE(iterator.RegisterModules(u"BetaModule"));
  const std::vector<std::string> file = {modules_ + "/betamodule/BETAMODULE.so"};
  EXPECT_EQ(Journaled("register"), file);
  EXPECT_EQ(Journaled("destroy"), file);  // unloaded at once
  EXPECT_TRUE(Journaled("unregister").empty());
}

TEST_F(ModuleIteratorTest, UnregisterRunsTheOtherHookOnTheNamedModuleOnly) {
  CModuleIterator iterator{KaOSAL::KaPath(test::Wide(modules_ + "/"))};
  EXPECT_TRUE(iterator.UnregisterModules(u"BetaModule"));
  const std::string file = modules_ + "/betamodule/BETAMODULE.so";
  EXPECT_EQ(Journaled("unregister"), (std::vector<std::string>{file}));
  EXPECT_TRUE(Journaled("register").empty());
  // The loader's lines (ModuleLoader's tests) name the file as found on disk.
  const std::vector<test::LoggedLine> lines = env_.LogLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front().text, "LOAD DLL: " + file);
}

TEST_F(ModuleIteratorTest, AFileNameInTheGivenPathIsDropped) {
  CModuleIterator iterator{KaOSAL::KaPath(test::Wide(modules_ + "/ignored.txt"))};
  EXPECT_EQ(test::Narrow(iterator.folder().ToString()), modules_ + "/");
  EXPECT_TRUE(iterator.RegisterModules(u"AlphaModule"));
}

TEST_F(ModuleIteratorTest, ReportsFalseWhenNoInstanceWasMade) {
  CModuleIterator iterator{KaOSAL::KaPath(test::Wide(modules_ + "/"))};
  EXPECT_FALSE(iterator.RegisterModules(u"NoSuchModule"));
  EXPECT_FALSE(iterator.RegisterModules(u"GammaModule"));  // no GammaModule.so inside
  EXPECT_FALSE(iterator.RegisterModules(u"DeltaModule"));  // a file, not a folder
  EXPECT_TRUE(env_.Journal().empty());
  env_.env().Set("WARDEX_TEST_MODULE_KIND", "null");
  EXPECT_FALSE(iterator.RegisterModules(u"AlphaModule"));
  EXPECT_EQ(Journaled("create-null"),
            (std::vector<std::string>{modules_ + "/AlphaModule/AlphaModule.so"}));
  CModuleIterator nowhere{KaOSAL::KaPath(test::Wide(env_.root().path() + "/nowhere/"))};
  EXPECT_FALSE(nowhere.RegisterModules(u"AlphaModule"));
}

}  // namespace
}  // namespace wardex
