// The tracking, logging and styler libraries and the graphics layer: loaded
// through the trust check, configured once, counted, released at zero.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "external/graphics_layer.h"
#include "external/tracking_library.h"
#include "external/ve_library.h"
#include "modules/module_test_env.h"
#include "osal/ka_path.h"
#include "platform/system_paths.h"

namespace wardex {
namespace {

using test::ModuleTestEnv;

// Puts signed copies of the three libraries in a folder of the library path.
class ExternalLibrariesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::remove(tracking_log_.c_str());  // on Windows the Wine prefix's own
#ifndef _WIN32  // Windows looks for a bare name beside the program, where the build put all three
    for (const std::string path :
         {WARDEX_TEST_KPITRACK_SO, WARDEX_TEST_VELOGGER_SO, WARDEX_TEST_VESTYLER_SO}) {
      env_.Copy(path, "lib" + path.substr(path.rfind('/')));
    }
    env_.env().Set("LD_LIBRARY_PATH", env_.root().path() + "/lib");
#endif
  }

  std::vector<std::string> TrackedEvents() const {
    std::vector<std::string> lines = test::ReadLines(tracking_log_);
    for (std::string& line : lines) line.erase(0, line.find('\t') + 1);  // without the time
    return lines;
  }

  ModuleTestEnv env_;
  const std::string tracking_log_ =
      test::Narrow(platform::GetUserStateFolder()) + "/wardex/kpitrack.log";
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

  // Refused before it loads: what the file holds does not matter.
  const std::string untrusted = env_.SignedCopy(test::kTestModule, "untrusted", "lib/kpi2");
  env_.ClearLog();
  TrackingLibrary refused(test::Wide(untrusted));
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

TEST_F(ExternalLibrariesTest, MissingLoggerIsTriedTwiceAndTheGraphicsLayerRunsWithoutIt) {
  const KaOSAL::KaString name = platform::LibraryFileName(u"NoLogger");
  VeLoggerLibrary logger(name, kGetLoggerInstanceExport, kDestroyLoggerInstanceExport);
  EXPECT_FALSE(logger.Start());
  EXPECT_EQ(logger.count(), 1);
  EXPECT_FALSE(logger.Start());  // counted only: not looked for again
  EXPECT_FALSE(logger.Release());
  EXPECT_TRUE(logger.Release());
  // Tried by bare name, then beside the program (where the bare name is also
  // looked for): two not-found lines.
  const KaOSAL::KaPath program_folder(KaOSAL::KaPath::eSpecialFolderExecutableDir);
  const test::LoggedLine not_found{
      3, "ERROR: Not found " + test::Narrow(program_folder.ToString() + name)};
  EXPECT_EQ(env_.LogLines(), (std::vector<test::LoggedLine>{not_found, not_found}));

#ifndef _WIN32  // on Windows the build puts both libraries beside the test program
  env_.env().Set("LD_LIBRARY_PATH", env_.root().path() + "/empty");
  GraphicsLayer graphics;
  EXPECT_TRUE(graphics.Start());
  EXPECT_EQ(graphics.styler().instance(), nullptr);
  EXPECT_EQ(graphics.logger().instance(), nullptr);
  EXPECT_EQ(graphics.styler().count(), 1);
  graphics.Stop();
  EXPECT_FALSE(graphics.running());
  EXPECT_EQ(graphics.logger().count(), 0);
#endif
}

}  // namespace
}  // namespace wardex
