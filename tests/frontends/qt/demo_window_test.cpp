// zelupdate demo --window as the program runs it: the sample set, the settings file with
// the simulated instrument on COM1, and the main dialog in the desktop window, through a
// whole automatic update. CI runs this one under a real X server as well.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QListWidget>
#include <string>
#include <vector>

#include "app/dialog_templates.h"
#include "app/service_record.h"
#include "cli/command_line.h"
#include "platform/profile.h"
#include "run/run_state.h"
#include "serial/com_ports.h"
#include "sim/registry.h"
#include "tests/frontends/qt/window_driver.h"
#include "tests/support/temp_dir.h"

namespace {

int runProgram(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  return runCommandLine(static_cast<int>(args.size()), argv.data());
}

TEST(DemoWindow, survives_a_whole_update_of_the_simulated_instrument) {
  testing_support::TempDir dir;
  sim::resetInstruments();
  resetRunState();
  qt_test::WindowDriver driver(60000);
  std::vector<std::string> listAtEnd;
  driver.waitForDialog(kIddUpdate)
      .check("port",
             [] {
               auto* ports = qt_test::controlAs<QComboBox>(kIddUpdate, kIdcPortList);
               ASSERT_NE(ports, nullptr);
               EXPECT_EQ(ports->currentText().toStdString(), "COM1");
             })
      .click(kIddUpdate, kIdcRun)
      .answer("Update successfully completed.\nEXIT update program.", QMessageBox::Ok)
      .then("idle", [] { return qt_test::controlOf(kIddUpdate, kIdcRun)->isEnabled(); })
      .check("lines",
             [&listAtEnd] {
               auto* list = qt_test::controlAs<QListWidget>(kIddUpdate, kIdcStatusList);
               for (int i = 0; i < list->count(); ++i)
                 listAtEnd.push_back(list->item(i)->text().toStdString());
             })
      .click(kIddUpdate, kIdcExit);
  driver.start();
  const int status =
      runProgram({"zelupdate", "demo", dir.file("demo"), "--window", "--speed", "virtual"});
  EXPECT_EQ(status, kExitOk);
  EXPECT_TRUE(driver.done());
  ASSERT_FALSE(listAtEnd.empty());
  EXPECT_EQ(listAtEnd.front(), "OK    Autoconnect with device");
  EXPECT_EQ(listAtEnd.back(), "Update of DSP option successfully completed");
  EXPECT_EQ(listAtEnd, statusLines());
  // The window's Run left its record in the demo's folder.
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

TEST(WindowCommand, refuses_in_one_line_without_a_display_or_with_an_unknown_option) {
  struct Row {
    std::vector<std::string> args;
    bool display;
    const char* message;
  };
  const Row rows[] = {
      {{"zelupdate"},
       false,
       "zelupdate: no display for the desktop window (DISPLAY is not set); use `zelupdate run` "
       "for an update in the console\n"},
      {{"zelupdate", "/Service", "--fast"},
       true,
       "zelupdate: unknown option '--fast' (see zelupdate --help)\n"},
  };
  const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
  const QByteArray display = qgetenv("DISPLAY");
  const QByteArray wayland = qgetenv("WAYLAND_DISPLAY");
  for (const Row& row : rows) {
    if (!row.display) {
      qunsetenv("QT_QPA_PLATFORM");
      qunsetenv("DISPLAY");
      qunsetenv("WAYLAND_DISPLAY");
    }
    testing::internal::CaptureStderr();
    const int status = runProgram(row.args);
    const std::string printed = testing::internal::GetCapturedStderr();
    qputenv("QT_QPA_PLATFORM", platform);
    if (!display.isEmpty()) qputenv("DISPLAY", display);
    if (!wayland.isEmpty()) qputenv("WAYLAND_DISPLAY", wayland);
    EXPECT_EQ(status, kExitUsage);
    EXPECT_EQ(printed, row.message);
  }
}

}  // namespace
