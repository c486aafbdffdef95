// The plug-in contract across separately loaded libraries: type information
// for dynamic_cast, the switch part of a switch module, and the host's strings.
#include <gtest/gtest.h>

#include <string>

#include "modules/module_loader.h"
#include "modules/module_test_env.h"
#include "wardex/console_view.h"
#include "wardex/module.h"
#include "wardex/quick_check.h"

namespace wardex {
namespace {

using test::ModuleTestEnv;

class PluginContractTest : public ::testing::Test {
 protected:
  ModuleTestEnv env_;
  const std::string module_path_ = env_.Copy(test::kTestModule, "m/SnapCheckModule.so");
};

TEST_F(PluginContractTest, QuickCheckWindowIsAConsoleViewInEveryLibraryAndAPlainOneIsNot) {
  // A library without a module factory: the loader keeps the library alone.
  ModuleLoader console;
  console.Load(test::Wide(env_.Copy(test::kTestConsole, "m/ConsoleModule.so")));
  using CastFn = IConsoleView* (*)(IModuleWindow*);
  const auto cast = reinterpret_cast<CastFn>(
      platform::GetProcAddress(console.library(), "TestConsoleCastWindow"));
  ASSERT_NE(cast, nullptr);
  env_.env().Set("WARDEX_TEST_MODULE_KIND", "snapcheck");
  for (const bool plain : {false, true}) {
    SCOPED_TRACE(plain ? "plain window" : "console view");
    if (plain) env_.env().Set("WARDEX_TEST_MODULE_WINDOW", "plain");
    ModuleLoader loader;
    IModule* module = loader.Load(test::Wide(module_path_));
    ASSERT_NE(module, nullptr);
    ISnapCheckControl* control = GetQuickCheckControl(module);  // dynamic_cast in the host
    ASSERT_NE(control, nullptr);
    IModuleWindow* window = control->GetWindow(0);
    ASSERT_NE(window, nullptr);
    IConsoleView* in_host = dynamic_cast<IConsoleView*>(window);
    EXPECT_EQ(cast(window), in_host);  // dynamic_cast in a second library
    EXPECT_EQ(in_host == nullptr, plain);
    if (!plain) {
      EXPECT_NE(static_cast<void*>(in_host), static_cast<void*>(window));  // a real cross-cast
    }
  }
}

TEST_F(PluginContractTest, SwitchModuleIsNoSnapCheckModuleButHasASwitchPart) {
  env_.env().Set("WARDEX_TEST_MODULE_FLAGS", "36");  // 0x20 | 0x04
  ModuleLoader loader;
  IModule* module = loader.Load(test::Wide(module_path_));
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(GetQuickCheckControl(module), nullptr);
  ASSERT_EQ(module->GetFlags(), kModuleFlagSwitch | kModuleFlagRunsTasks);
  IModuleSwitch* module_switch = ToModuleSwitch(module);
  EXPECT_TRUE(module_switch->SetSwitchState(1, 0));
  EXPECT_EQ(module_switch->GetSwitchState(0, 0, 0), 1);
  EXPECT_EQ(ToModuleSwitch(nullptr), nullptr);
}

TEST_F(PluginContractTest, StringsCrossTheLibraryBoundaryBothWays) {
  ModuleLoader loader;
  ASSERT_NE(loader.Load(test::Wide(module_path_)), nullptr);
  using DecorateFn = void (*)(const KaOSAL::KaString*, KaOSAL::KaString*);
  using TakeFn = void (*)(KaOSAL::KaString*);
  auto decorate = reinterpret_cast<DecorateFn>(
      platform::GetProcAddress(loader.library(), "TestModuleDecorate"));
  auto take =
      reinterpret_cast<TakeFn>(platform::GetProcAddress(loader.library(), "TestModuleTakeKept"));
  ASSERT_NE(decorate, nullptr);
  ASSERT_NE(take, nullptr);
  KaOSAL::KaString out;
  {
    // Long enough for a pooled block; the host's copy dies first.
    KaOSAL::KaString in(u'x', 300);
    in += u"\u00e9\u4e2d";
    decorate(&in, &out);
  }
  EXPECT_EQ(out.GetLength(), 302 + 11);
  EXPECT_TRUE(out.EndsWith(u"\u00e9\u4e2d via module"));
  KaOSAL::KaString kept;
  take(&kept);  // the module's copy, freed by the host
  EXPECT_EQ(kept.GetLength(), 302);
  EXPECT_TRUE(kept.StartsWith(u"xxx"));
}

}  // namespace
}  // namespace wardex
