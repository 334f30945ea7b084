// zelupdate demo --window as the Windows program runs it: the sample set, the settings file
// with the simulated instrument on COM1, and the main dialog in the window through a whole
// automatic update, with its record.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/dialog_templates.h"
#include "app/service_record.h"
#include "cli/command_line.h"
#include "frontends/win32/test_hooks/win32_test_hooks.h"
#include "platform/profile.h"
#include "run/run_state.h"
#include "serial/com_ports.h"
#include "sim/registry.h"
#include "sim/simulator_support.h"
#include "tests/frontends/win32/window_driver.h"
#include "tests/frontends/window_run_lines.h"
#include "tests/support/temp_dir.h"

namespace {

namespace hooks = ui::win32::test_hooks;

TEST(DemoWindowWin32, runs_a_whole_update_of_the_simulated_instrument_and_keeps_its_record) {
  testing_support::TempDir dir;
  sim::resetInstruments();
  resetRunState();
  win32_test::WindowDriver driver(60000);
  std::vector<std::string> listAtEnd;
  driver.waitForDialog(kIddUpdate)
      .check("port",
             [] {
               const std::vector<std::string> ports = hooks::comboTexts(kIddUpdate, kIdcPortList);
               const int selected = hooks::comboSelection(kIddUpdate, kIdcPortList);
               ASSERT_GE(selected, 0);
               EXPECT_EQ(ports[static_cast<size_t>(selected)], "COM1");
             })
      .click(kIddUpdate, kIdcRun)
      .answer(window_test::kDone, ui::MessageBoxAnswer::Ok)
      .then("idle", [] { return hooks::control(kIddUpdate, kIdcRun).enabled; })
      .check("lines", [&listAtEnd] { listAtEnd = hooks::listLines(kIddUpdate, kIdcStatusList); })
      .click(kIddUpdate, kIdcExit);
  driver.start();
  std::vector<std::string> args = {"zelupdate", "demo",    dir.file("demo"),
                                   "--window",  "--speed", "virtual"};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  EXPECT_EQ(runCommandLine(static_cast<int>(args.size()), argv.data()), kExitOk);
  EXPECT_TRUE(driver.done());
  ASSERT_FALSE(listAtEnd.empty());
  EXPECT_EQ(listAtEnd.front(), "OK    Autoconnect with device");
  EXPECT_EQ(listAtEnd.back(), "Update of DSP option successfully completed");
  std::vector<StoredRecord> records;
  EXPECT_TRUE(readHistory(dir.file("demo/history.jsonl"), {}, records, nullptr));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].record.frontEnd, "window");
  EXPECT_EQ(records[0].record.outcome, "success");
  EXPECT_EQ(records[0].record.steps, listAtEnd);

  sim::uninstallClock();
  sim::resetInstruments();
  resetRunState();
  serial::resetComPortMapping();
  platform::setSettingsFileOverride("");
}

}  // namespace
