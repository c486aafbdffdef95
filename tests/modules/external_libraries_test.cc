// The tracking, logging and styler libraries and the graphics layer: loaded
// through the trust check, configured once, counted, released at zero.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "external/graphics_layer.h"
#include "external/tracking_library.h"
#include "external/ve_library.h"
#include "modules/module_test_env.h"

namespace wardex {
namespace {

using test::ModuleTestEnv;

// Puts signed copies of the three libraries in a folder of the library path.
class ExternalLibrariesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = env_.root().path() + "/lib";
    for (const char* library :
         {WARDEX_TEST_KPITRACK_SO, WARDEX_TEST_VELOGGER_SO, WARDEX_TEST_VESTYLER_SO}) {
      const std::string path = library;
      env_.Copy(path, folder_ + path.substr(path.rfind('/')));
    }
    env_.env().Set("LD_LIBRARY_PATH", folder_);
  }

  std::vector<std::string> TrackedEvents() const {
    std::vector<std::string> lines;
    const std::string all = test::ReadFile(env_.root().state_home() + "/wardex/kpitrack.log");
    size_t start = 0;
    for (size_t end; (end = all.find('\n', start)) != std::string::npos; start = end + 1) {
      const std::string line = all.substr(start, end - start);
      lines.push_back(line.substr(line.find('\t') + 1));  // without the time
    }
    return lines;
  }

  ModuleTestEnv env_;
  std::string folder_;
};

TEST_F(ExternalLibrariesTest, OnlyTheFirstStartConfiguresAndOnlyTheLastReleaseUnloads) {
  TrackingLibrary tracking;
  EXPECT_TRUE(tracking.Start(u"TRAY FREE", true, u"desktop", false));
  EXPECT_TRUE(tracking.Start(u"", false, u"", true));  // counted only
  EXPECT_EQ(tracking.count(), 2);
  EXPECT_TRUE(tracking.Event(u"c", u"a", u"l", u"t1", u"t\t2", -3));
  EXPECT_EQ(TrackedEvents(),
            (std::vector<std::string>{"tracker\tTRAY FREE\tdesktop\ti\tc\ta\tl\tt1\tt 2\t-3"}));
  EXPECT_FALSE(tracking.Release());
  EXPECT_TRUE(tracking.Event(u"TRAY", u"CLICKS", u"Starter", u"", u"", 7));
  EXPECT_TRUE(tracking.Release());
  EXPECT_FALSE(tracking.Event(u"TRAY", u"CLICKS", u"dropped", u"", u"", 0));
  EXPECT_EQ(TrackedEvents().size(), 2u);
  EXPECT_TRUE(env_.LogLines().empty());
}

TEST_F(ExternalLibrariesTest, MissingOrUntrustedTrackingLibraryIsNoError) {
  env_.env().Set("LD_LIBRARY_PATH", env_.root().path() + "/empty");
  TrackingLibrary missing(u"nosuchtrack.so");
  EXPECT_FALSE(missing.Start(u"TRAY", true, u"", false));
  EXPECT_FALSE(missing.Event(u"TRAY", u"CLICKS", u"x", u"", u"", 0));
  EXPECT_TRUE(missing.Release());

  const std::string untrusted =
      env_.SignedCopy(WARDEX_TEST_KPITRACK_SO, "untrusted", folder_ + "/kpi2.so");
  env_.env().Set("LD_LIBRARY_PATH", folder_);
  env_.ClearLog();
  TrackingLibrary refused(u"kpi2.so");
  EXPECT_FALSE(refused.Start(u"TRAY", true, u"", false));
  // Both trackers were tried, each through the trust check.
  EXPECT_EQ(env_.LogLines(),
            (std::vector<test::LoggedLine>{{3, "ERROR: FATAL - Not trusted " + untrusted},
                                           {3, "ERROR: FATAL - Not trusted " + untrusted}}));
  EXPECT_TRUE(TrackedEvents().empty());
}

TEST_F(ExternalLibrariesTest, GraphicsLayerKeepsStylerAndLoggerLoadedWhileItRuns) {
  GraphicsLayer graphics;
  EXPECT_FALSE(graphics.running());
  EXPECT_TRUE(graphics.Start());
  EXPECT_TRUE(graphics.Start());
  EXPECT_EQ(graphics.references(), 2);
  ASSERT_NE(graphics.styler().instance(), nullptr);
  ASSERT_NE(graphics.logger().instance(), nullptr);
  EXPECT_EQ(graphics.styler().instance()->GetColor(2), 0xC07A1Eu);
  EXPECT_EQ(graphics.styler().count(), 2);
  graphics.Stop();
  EXPECT_TRUE(graphics.running());
  EXPECT_NE(graphics.logger().instance(), nullptr);
  graphics.Stop();
  EXPECT_FALSE(graphics.running());
  EXPECT_EQ(graphics.logger().instance(), nullptr);
  EXPECT_EQ(graphics.styler().count(), 0);
}

// The folder of the running test program, with a trailing slash.
std::string ProgramFolder() {
  const std::string exe = std::filesystem::read_symlink("/proc/self/exe");
  return exe.substr(0, exe.rfind('/') + 1);
}

TEST_F(ExternalLibrariesTest, MissingLoggerIsTriedTwiceAndTheGraphicsLayerRunsWithoutIt) {
  env_.env().Set("LD_LIBRARY_PATH", env_.root().path() + "/empty");
  VeLoggerLibrary logger = MakeVeLoggerLibrary();
  EXPECT_FALSE(logger.Start());
  EXPECT_EQ(logger.count(), 1);
  EXPECT_FALSE(logger.Start());  // counted only: not looked for again
  EXPECT_FALSE(logger.Release());
  EXPECT_TRUE(logger.Release());
  // Tried by bare name, then beside the program (where the bare name is also
  // looked for): two not-found lines.
  const test::LoggedLine not_found{3, "ERROR: Not found " + ProgramFolder() + "VeLogger.so"};
  EXPECT_EQ(env_.LogLines(), (std::vector<test::LoggedLine>{not_found, not_found}));

  GraphicsLayer graphics;
  EXPECT_TRUE(graphics.Start());
  EXPECT_EQ(graphics.styler().instance(), nullptr);
  EXPECT_EQ(graphics.logger().instance(), nullptr);
  EXPECT_EQ(graphics.styler().count(), 1);
  graphics.Stop();
  EXPECT_FALSE(graphics.running());
  EXPECT_EQ(graphics.logger().count(), 0);
}

}  // namespace
}  // namespace wardex
