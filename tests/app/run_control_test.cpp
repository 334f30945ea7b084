// Manual runs, Cancel and Exit in the middle of a run, against the simulated instrument.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "run/run_state.h"
#include "sim/registry.h"
#include "tests/app/app_fixture.h"

namespace app_test {
namespace {

using Lines = std::vector<std::string>;
using testing_support::ScriptedWindow;

constexpr const char* kServiceMenuBox =
    "ZEL settings before update:\n- press key PRESET\n- press softkey SERVICE...\n- press softkey "
    "FIRMWARE UPDATE...,\n- press softkey YES.\nDisplay should now be black.";
constexpr const char* kRemoteBox =
    "ZEL settings before update:\n- press hardkey SETUP\n- press softkey REMOTE...\n- press "
    "softkey RS232...\n- BAUDRATE 9600\n- DATABITS 8\n- PARITY NO\n- STOPBIT 1\n- HANDSHAKE "
    "XON/XOFF.";
constexpr const char* kOptionDone = "Update of option\nsuccessfully completed.";

const Lines kManualStart = {"Manual mode with settings in configuration menu",
                            "OK    Create configuration file"};
const Lines kProcessor = {"Preparing update environment",
                          "OK    Check device in update mode",
                          "OK    Download bootloader",
                          "OK    Download transfer program",
                          "Update processor firmware",
                          "OK    Delete flash",
                          "OK    Download processor firmware",
                          "OK    Get checksum from target",
                          "OK    Update processor firmware completed"};
const Lines kDsp = {
    "OK    Erasing Flash ROMs on DSP module...", "OK    Programming Flash ROMs on DSP module...",
    "OK    Waiting for checksum from DSP module...", "Update of DSP option successfully completed"};

Lines join(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

struct ManualCase {
  const char* name;
  const char* simOptions;
  int optionButton;  // control id of the option chosen in the configuration dialog
  bool processorFirmware;
  bool optionUpdate;
  Lines lines;
  std::vector<std::string> boxes;
  bool succeeded;
  int intermediateBoot;
  const char* firmwareImage;  // nullptr: the flash is not programmed
  const char* dspImage;
};

const ManualCase kManualCases[] = {
    {"configuration_file_only",
     "hw=0x10000",
     kIdcOptionNone,
     false,
     false,
     kManualStart,
     {},
     true,
     0,
     nullptr,
     nullptr},
    {"processor_then_boot",
     "hw=0x10000",
     kIdcOptionNone,
     true,
     false,
     join({kManualStart, kProcessor, {"Wait until device is booted"}}),
     {kServiceMenuBox, "Update processor\nsuccessfully completed.\nEXIT update program."},
     true,
     1,
     "NO_ATSC.bin",
     nullptr},
    {"option_with_full_preparation",
     "hw=0x10400",
     kIdcOptionB10,
     false,
     true,
     join({kManualStart,
           {"OK    Set ZEL in update mode", "Update Option(B10)",
            "OK    Check device in update mode", "OK    Download bootloader",
            "OK    Download transfer program"},
           kDsp}),
     {kRemoteBox, kOptionDone},
     true,
     1,
     nullptr,
     "OFDM.BIN"},
    {"processor_and_option_without_boot",
     "hw=0x10400",
     kIdcOptionB10,
     true,
     true,
     join({kManualStart, kProcessor, {"Update Option(B10)"}, kDsp}),
     {kServiceMenuBox, kOptionDone},
     true,
     0,
     "NO_ATSC.bin",
     "OFDM.BIN"},
    {"processor_failure_stops_the_option",
     "hw=0x10400,fault=no-ready",
     kIdcOptionB10,
     true,
     true,
     join({kManualStart,
           {"Preparing update environment", "ERROR Check device in update mode (205)",
            "Option update stopped because processor firmware download failed"}}),
     {kServiceMenuBox, "Update processor failed.\nPlease retry"},
     false,
     0,
     nullptr,
     nullptr},
};

class ManualRun : public AppTest, public ::testing::WithParamInterface<ManualCase> {};

TEST_P(ManualRun, follows_the_selections) {
  const ManualCase& c = GetParam();
  attach(c.simOptions);
  host.atIdle(kIddConfig, [&c](ScriptedWindow& w) {
    w.click(c.optionButton);
    if (w.isChecked(kIdcProcessorFirmware) != c.processorFirmware) w.click(kIdcProcessorFirmware);
    if (w.isChecked(kIdcOptionUpdate) != c.optionUpdate) w.click(kIdcOptionUpdate);
    w.click(ui::kIdOk);
  });
  // The stored port stands selected and stays closed until the update opens it: the
  // front-panel steps come first. Manual opens the configuration.
  runOnce([](ScriptedWindow& w) { w.click(kIdcManual); });
  EXPECT_EQ(lines(), c.lines);
  EXPECT_EQ(boxes(), c.boxes);
  EXPECT_EQ(dialog->m_lastRunSucceeded, c.succeeded);
  EXPECT_EQ(dialog->m_intermediateBoot, c.intermediateBoot);
  if (c.firmwareImage) expectProgrammed(c.firmwareImage, 0x50000, c.dspImage ? c.dspImage : "");
  if (!c.firmwareImage && c.dspImage) {
    const std::string dsp = dir->read(c.dspImage);
    EXPECT_EQ(instrument().dspImage().size() * 4, dsp.size());
  }
  for (const auto& box : host.boxes) EXPECT_FALSE(box.timerRunning) << box.text;
}

INSTANTIATE_TEST_SUITE_P(Manual, ManualRun, ::testing::ValuesIn(kManualCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AppTest, after_a_manual_run_configuration_is_enabled_after_automatic_not) {
  attach("hw=0x10000");
  bool configurationAfterManual = false;
  host.atIdle(kIddConfig, [](ScriptedWindow& w) {
    w.click(kIdcProcessorFirmware);  // nothing to update: only the file
    w.click(ui::kIdOk);
  });
  host.atIdle(kIddUpdate, [](ScriptedWindow& w) { w.click(kIdcManual); });
  host.atIdle(kIddUpdate, [](ScriptedWindow& w) { w.click(kIdcRun); });
  host.atIdle(kIddUpdate, [&](ScriptedWindow& w) {
    configurationAfterManual = w.isEnabled(kIdcConfiguration);
    w.click(kIdcAutomatic);
  });
  runOnce();
  EXPECT_TRUE(configurationAfterManual);
  EXPECT_FALSE(dialog->m_window);
  EXPECT_TRUE(dialog->m_lastRunSucceeded);
}

bool hasLine(const char* prefix) {
  for (const std::string& line : statusLines())
    if (line.rfind(prefix, 0) == 0) return true;
  return false;
}

size_t countLines(const char* prefix) {
  const Lines all = statusLines();
  return static_cast<size_t>(std::count_if(
      all.begin(), all.end(), [prefix](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
}

struct CancelCase {
  const char* name;
  const char* simOptions;
  bool manual;
  ui::MessageBoxAnswer answer;
  uint64_t answerAfterMs;  // program time the question stays open while the run goes on
  const char* lastBox;     // nullptr: the boxes of a run without Cancel
  const char* stepLine = "ERROR Download processor firmware (FFFF)";  // after a Yes
};

const CancelCase kCancelCases[] = {
    {"automatic_yes_stops_without_a_second_attempt", "hw=0x10000", false, ui::MessageBoxAnswer::Yes,
     0, kCancelledBox},
    {"automatic_yes_before_the_option_update", "hw=0x11000", false, ui::MessageBoxAnswer::Yes, 0,
     kCancelledBox},
    {"manual_yes_stops_at_the_cancel", "hw=0x10000", true, ui::MessageBoxAnswer::Yes, 0,
     kCancelledBox},
    {"automatic_no_after_30_s_changes_nothing", "hw=0x10000,version=04.41", false,
     ui::MessageBoxAnswer::No, 30'000, nullptr},
    {"manual_no_after_30_s_changes_nothing", "hw=0x10000", true, ui::MessageBoxAnswer::No, 30'000,
     nullptr},
    // The first try fails while the question is open: the second waits for the answer.
    {"automatic_yes_after_a_failed_first_try_starts_no_second", "hw=0x10000,fault=program-fail",
     false, ui::MessageBoxAnswer::Yes, 30'000, kCancelledBox, "ERROR Download processor firmware"},
};

class CancelRun : public AppTest, public ::testing::WithParamInterface<CancelCase> {};

// The question stays open while the engine goes on, as a user reads it: a No after any
// time leaves the run exactly as without Cancel; a Yes ends it with the cancel box.
TEST_P(CancelRun, in_the_middle_of_the_programming) {
  const CancelCase& c = GetParam();
  attach(c.simOptions);
  const auto prepare = [&c](ScriptedWindow& w) {
    if (!c.manual) return;
    w.click(kIdcManual);  // the configuration dialog: OK with its start values
  };
  if (c.manual) host.atIdle(kIddConfig, [](ScriptedWindow& w) { w.click(ui::kIdOk); });
  // The reference: the same run without Cancel.
  runOnce(prepare);
  const Lines reference = statusLines();
  const std::vector<std::string> referenceBoxes = boxes();
  const std::vector<uint8_t> referenceFlash = instrument().flashBytes(0x50000, 0x1000);

  sim::resetInstruments();
  resetRunState();
  deviceName = kDeviceNameUnknown;
  host.boxes.clear();
  host.operations.clear();
  dialog = std::make_unique<CUpdateDlg>("zelupdate");
  if (c.manual) host.atIdle(kIddConfig, [](ScriptedWindow& w) { w.click(ui::kIdOk); });
  host.answers = {c.answer};
  host.questionAnswerDelayMs = c.answerAfterMs;
  host.when([] { return hasLine("Download processor firmware"); },
            [](ScriptedWindow& w) { w.click(kIdcCancel); });
  runOnce(prepare);

  // The question comes during the programming, before the run's last box.
  std::vector<std::string> expectedBoxes = referenceBoxes;
  ASSERT_FALSE(expectedBoxes.empty());
  expectedBoxes.insert(expectedBoxes.end() - 1, kCancelQuestion);
  if (c.answer == ui::MessageBoxAnswer::No) {
    EXPECT_EQ(boxes(), expectedBoxes);
    EXPECT_EQ(statusLines(), reference);
    EXPECT_EQ(instrument().flashBytes(0x50000, 0x1000), referenceFlash);
    EXPECT_TRUE(dialog->m_lastRunSucceeded);
  } else {
    ASSERT_FALSE(boxes().empty());
    EXPECT_EQ(boxes().back(), c.lastBox);
    EXPECT_EQ(boxes()[boxes().size() - 2], kCancelQuestion);
    EXPECT_EQ(countLines(c.stepLine), 1u);
    // Neither a second attempt nor the option update.
    EXPECT_EQ(countLines("OK    Download bootloader"), 1u);
    EXPECT_FALSE(hasLine("Update Option"));
    EXPECT_FALSE(dialog->m_lastRunSucceeded);
    EXPECT_EQ(cancelRequested, 1);
  }
  // The question stops the timer; No starts it again once answered.
  const auto question = std::find(host.operations.begin(), host.operations.end(),
                                  std::string("question ") + kCancelQuestion);
  ASSERT_NE(question, host.operations.end());
  ASSERT_NE(question, host.operations.begin());
  EXPECT_EQ(*(question - 1), "killTimer 1");
  const auto answer = std::find_if(question, host.operations.end(), [](const std::string& op) {
    return op.rfind("answer ", 0) == 0;
  });
  ASSERT_NE(answer, host.operations.end());
  const bool restarted = answer + 1 != host.operations.end() && *(answer + 1) == "setTimer 1 100";
  EXPECT_EQ(restarted, c.answer == ui::MessageBoxAnswer::No);
  EXPECT_FALSE(host.windows.size());
}

INSTANTIATE_TEST_SUITE_P(Cancel, CancelRun, ::testing::ValuesIn(kCancelCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AppTest, exit_during_a_run) {
  attach("hw=0x10000");
  host.answers = {ui::MessageBoxAnswer::No, ui::MessageBoxAnswer::Yes};
  host.when([] { return hasLine("Download processor firmware"); },
            [](ScriptedWindow& w) {
              w.click(kIdcExit);  // disabled while the run is active: nothing happens
              static_cast<CUpdateDlg&>(w.dialog()).exitProgram();  // No: the run goes on
            });
  host.when([] { return hasLine("OK    Download processor firmware"); },
            [](ScriptedWindow& w) { static_cast<CUpdateDlg&>(w.dialog()).exitProgram(); });
  host.atIdle(kIddUpdate, [](ScriptedWindow& w) { w.click(kIdcRun); });
  const int result = host.runModal(*dialog);
  const std::string question = "If update is running,\ndo not exit the program.\nExit anyway?";
  // The run stops at the cancel: no second attempt.
  EXPECT_EQ(boxes(), (std::vector<std::string>{question, question, kCancelledBox}));
  EXPECT_EQ(result, ui::kIdCancel);
  EXPECT_NE(std::find(host.operations.begin(), host.operations.end(), "ignored click 1083"),
            host.operations.end());
  // Yes ends the run at the engine's next pump instead of programming on without a window.
  EXPECT_EQ(cancelRequested, 1);
  EXPECT_FALSE(hasLine("OK    Get checksum from target"));
  EXPECT_FALSE(dialog->m_session.m_comm.isOpen());
}

}  // namespace
}  // namespace app_test
