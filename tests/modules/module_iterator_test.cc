// CModuleIterator: which folders and files it visits, in which order, and
// what it reports; the names it matches.
#include "modules/module_iterator.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "modules/module_test_env.h"
#include "modules/wildcard_match.h"

namespace wardex {
namespace {

using test::ModuleTestEnv;

class ModuleIteratorTest : public ::testing::Test {
 protected:
  // modules/ holding AlphaModule/AlphaModule.so, betamodule/BETAMODULE.so (other
  // case), GammaModule/other.so (not named after its folder; .dll on Windows), a file
  // DeltaModule that is no folder, and five more matching folders so that the
  // listing order is not simply the order of creation.
  void SetUp() override {
    modules_ = env_.root().path() + "/app/modules";
    for (const char* file :
         {"AlphaModule/AlphaModule", "betamodule/BETAMODULE", "GammaModule/other",
          "Zeta1Module/Zeta1Module", "Eta2Module/Eta2Module", "Theta3Module/Theta3Module",
          "Iota4Module/Iota4Module", "Kappa5Module/Kappa5Module"}) {
      env_.Copy(test::kTestModule, modules_ + "/" + file + test::kLibrarySuffix);
    }
    env_.Copy(test::kTestModule, modules_ + "/DeltaModule");
  }

  // The library |stem| in modules/, as the system writes its path.
  std::string Library(const std::string& stem) const {
    return test::SystemPath(modules_ + "/" + stem + test::kLibrarySuffix);
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

TEST_F(ModuleIteratorTest, RegistersMatchingModulesInListingOrder) {
  // The folders holding a library named after them, whatever its case, in
  // the order the file system lists them.
  std::vector<std::string> expected;
  for (const auto& entry : std::filesystem::directory_iterator(modules_)) {
    const std::string folder = entry.path().filename().string();
    if (folder == "betamodule") {
      expected.push_back(Library("betamodule/BETAMODULE"));
    } else if (folder != "GammaModule" && folder != "DeltaModule") {
      expected.push_back(Library(folder + "/" + folder));
    }
  }
  ASSERT_EQ(expected.size(), 7u);

  CModuleIterator iterator{KaOSAL::KaPath(test::Wide(modules_ + "/"))};
  EXPECT_TRUE(iterator.RegisterModules(u"*Module"));
  EXPECT_EQ(Journaled("register"), expected);
  EXPECT_EQ(Journaled("destroy"), expected);  // each unloaded at once
  EXPECT_TRUE(Journaled("unregister").empty());
}

// A file name in the given path is dropped.
TEST_F(ModuleIteratorTest, UnregisterRunsTheOtherHookOnTheNamedModuleOnly) {
  CModuleIterator iterator{KaOSAL::KaPath(test::Wide(modules_ + "/ignored.txt"))};
  EXPECT_EQ(test::SystemPath(test::Narrow(iterator.folder().ToString())),
            test::SystemPath(modules_ + "/"));
  EXPECT_TRUE(iterator.UnregisterModules(u"BetaModule"));
  const std::string file = Library("betamodule/BETAMODULE");
  EXPECT_EQ(Journaled("unregister"), (std::vector<std::string>{file}));
  EXPECT_TRUE(Journaled("register").empty());
  // The loader's lines (ModuleLoader's tests) name the file as found on disk.
  const std::vector<test::LoggedLine> lines = env_.LogLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front().text, "LOAD DLL: " + file);
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
            (std::vector<std::string>{Library("AlphaModule/AlphaModule")}));
  CModuleIterator nowhere{KaOSAL::KaPath(test::Wide(env_.root().path() + "/nowhere/"))};
  EXPECT_FALSE(nowhere.RegisterModules(u"*"));
}

TEST(WildcardMatch, NamesMatchWithoutRegardToCase) {
  // The agent names the modules it registers exactly; the wildcards are the
  // iterator's ("*Module", "*").
  const struct {
    const char16_t* name;
    const char16_t* pattern;
    bool matches;
  } cases[] = {
      {u"WardexModule", u"WardexModule", true},
      {u"wardexmodule", u"WARDEXMODULE", true},
      {u"\u00c4rger", u"\u00e4rger", true},  // case folding beyond ASCII
      {u"WardexModule", u"Wardex", false},
      {u"Wardex", u"WardexModule", false},
      {u"WardexModule.so", u"WardexModule", false},
      {u"x", u"", false},
      {u"anything", u"*", true},
      {u"WardexModule", u"*Module", true},
      {u"WardexModul", u"*Module", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MatchesFilePattern(c.name, c.pattern), c.matches)
        << "name and pattern #" << (&c - cases);
  }
}

}  // namespace
}  // namespace wardex
