// The stage of the main dialog's tests: a temporary update folder with the sample update
// set, a settings file that puts a simulated instrument behind one COM number (the others
// hidden), the virtual clock, and the scripted host running CUpdateDlg.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/dialog_templates.h"
#include "app/update_dlg.h"
#include "platform/clock.h"
#include "sim/instrument.h"
#include "tests/support/scripted_host.h"
#include "tests/support/temp_dir.h"

namespace app_test {

inline constexpr int kSimPort = 4;

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Puts a simulated instrument ("sim:" + options) behind kSimPort.
  void attach(const std::string& options);
  sim::Instrument& instrument();
  // Runs the main dialog: clicks Run (after the given preparation at idle), then lets the
  // script end the dialog.
  void runOnce(const testing_support::ScriptedHost::Step& before = {});
  // Runs the main dialog with these idle steps and nothing else.
  void runDialog();
  // Checks that the board's flash holds the firmware image and, when given, the DSP module
  // the DSP image.
  void expectProgrammed(const std::string& firmwareImage, uint32_t address,
                        const std::string& dspImage = {});

  std::vector<std::string> lines() const;
  std::vector<std::string> boxes() const { return testing_support::boxTexts(host.boxes); }

  platform::VirtualClock clock;
  std::unique_ptr<platform::ScopedClock> scopedClock;
  std::unique_ptr<testing_support::TempDir> dir;
  testing_support::ScriptedHost host;
  std::unique_ptr<CUpdateDlg> dialog;
  std::string portName;
  // The status list box as the window showed it when the dialog ended.
  std::vector<std::string> listBoxAtEnd;
};

}  // namespace app_test
