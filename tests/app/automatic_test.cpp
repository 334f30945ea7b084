// Automatic runs of the main dialog against the simulated instrument: the exact status
// list, the boxes in order, and the flash and DSP contents afterwards.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run/run_state.h"
#include "tests/app/app_fixture.h"

namespace app_test {
namespace {

using Lines = std::vector<std::string>;

Lines operator+(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Lines connected(const std::string& model, const std::string& version) {
  return {"OK    Autoconnect with device", "OK    Get SW/HW info",
          "Processor board with memory extension",
          "Current software version " + model + ": " + version};
}

Lines processorUpdate(const std::string& model) {
  return {"OK    Create configuration file",
          "OK    Set " + model + " in update mode",
          "Preparing update environment",
          "OK    Check " + model + " in update mode",
          "OK    Download bootloader",
          "OK    Download transfer program",
          "Update processor firmware",
          "OK    Delete flash",
          "OK    Download processor firmware",
          "OK    Get checksum from target",
          "OK    Update processor firmware completed"};
}

Lines booted(const std::string& model) {
  return {"OK    Wait until " + model + " is booted",
          "Update processor firmware successfully completed"};
}

const Lines kDspLines = {
    "OK    Erasing Flash ROMs on DSP module...", "OK    Programming Flash ROMs on DSP module...",
    "OK    Waiting for checksum from DSP module...", "Update of DSP option successfully completed"};

// The option through the transfer program the processor update left running.
Lines optionDirect(const std::string& option) {
  return Lines{"Update Option(" + option + ")"} + kDspLines;
}

// The option after the instrument has booted: update mode, loader and transfer program again.
Lines optionPrepared(const std::string& model, const std::string& option) {
  return Lines{"OK    Set " + model + " in update mode", "Update Option(" + option + ")",
               "OK    Check " + model + " in update mode", "OK    Download bootloader",
               "OK    Download transfer program"} +
         kDspLines;
}

constexpr const char* kDone = "Update successfully completed.\nEXIT update program.";

struct AutomaticCase {
  const char* name;
  const char* simOptions;
  Lines lines;
  std::vector<std::string> boxes;
  const char* firmwareImage;  // programmed at 0x50000; nullptr: not checked
  const char* dspImage;       // nullptr: none
  int intermediateBoot;
};

const AutomaticCase kSuccessCases[] = {
    {"no_option",
     "hw=0x10000",
     connected("ZEL", "04.41") + processorUpdate("ZEL"),
     {kDone},
     "NO_ATSC.bin",
     nullptr,
     0},
    {"b1_through_transfer_program",
     "hw=0x10020",
     connected("ZEL", "04.41") + processorUpdate("ZEL") + optionDirect("B1"),
     {kDone},
     "QAM_B1.bin",
     "QAM.BIN",
     0},
    {"b10_through_transfer_program",
     "hw=0x10400",
     connected("ZEL", "04.41") + processorUpdate("ZEL") + optionDirect("B10"),
     {kDone},
     "NO_ATSC.bin",
     "OFDM.BIN",
     0},
    {"b20_on_4_40_boots_between",
     "hw=0x11000,version=04.40",
     connected("ZEL", "04.40") + processorUpdate("ZEL") + booted("ZEL") +
         optionPrepared("ZEL", "B20"),
     {kDone},
     "NO_DVBT.bin",
     "ATSC.BIN",
     1},
    {"b1_on_4_40_powers_the_dsp",
     "hw=0x10020,version=04.40",
     connected("ZEL", "04.40") + processorUpdate("ZEL") + booted("ZEL") +
         Lines{"OK    Power on DSP on B1"} + optionPrepared("ZEL", "B1"),
     {kDone},
     "QAM_B1.bin",
     "QAM.BIN",
     1},
    {"option_seen_only_after_the_update",
     "hw=0x10000,version=04.40,hw-after=0x10400",
     connected("ZEL", "04.40") + processorUpdate("ZEL") + booted("ZEL") +
         Lines{"OK    Get HW info after processor update",
               "OK    Create configuration file after download processor firmware"} +
         optionPrepared("ZEL", "B10"),
     {kDone},
     "NO_ATSC.bin",
     "OFDM.BIN",
     1},
    {"board_information_gives_the_extension_on_4_90",
     "hw=0,board=5,version=04.90",
     connected("ZEL", "04.90") + processorUpdate("ZEL"),
     {kDone},
     "NO_ATSC.bin",
     nullptr,
     0},
    {"lum",
     "model=LUM,hw=0x11000,version=04.40",
     connected("LUM", "04.40") + processorUpdate("LUM") + booted("LUM") +
         optionPrepared("LUM", "B20"),
     {kDone},
     "NO_DVBT.bin",
     "ATSC.BIN",
     1},
};

class AutomaticSuccess : public AppTest, public ::testing::WithParamInterface<AutomaticCase> {};

TEST_P(AutomaticSuccess, status_list_boxes_and_contents) {
  const AutomaticCase& c = GetParam();
  attach(c.simOptions);
  runOnce();
  EXPECT_EQ(lines(), c.lines);
  EXPECT_EQ(listBoxAtEnd, c.lines);
  EXPECT_EQ(boxes(), c.boxes);
  EXPECT_TRUE(dialog->m_lastRunSucceeded);
  EXPECT_EQ(dialog->m_intermediateBoot, c.intermediateBoot);
  expectProgrammed(c.firmwareImage, 0x50000, c.dspImage ? c.dspImage : "");
  // The box came with the bars standing still.
  for (const auto& box : host.boxes) EXPECT_FALSE(box.timerRunning) << box.text;
}

INSTANTIATE_TEST_SUITE_P(Automatic, AutomaticSuccess, ::testing::ValuesIn(kSuccessCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct RefusalCase {
  const char* name;
  const char* simOptions;
  Lines lines;
  std::vector<std::string> boxes;
  bool timerStarted;
};

const RefusalCase kRefusalCases[] = {
    {"version_3_07",
     "version=03.07",
     {"OK    Autoconnect with device", "OK    Get SW/HW info",
      "Processor board with memory extension"},
     {"Software version lower than 3.08.\nOnly Manual mode is possible"},
     false},
    // Refused before the version is looked at, and without a box.
    {"no_memory_extension",
     "hw=0,version=03.07",
     {"OK    Autoconnect with device", "OK    Get SW/HW info",
      "ERROR - No memory extension installed!",
      "For ZEL without memory extension please load ZEL FW release V04.48!"},
     {},
     false},
    // The box names the model as known before identification.
    {"no_instrument",
     "fault=silent",
     {"ERROR Autoconnect with device"},
     {"ERROR -\ncheck RS232 cable,\ncheck device on,\ncheck COM port."},
     false},
    {"dsp_checksum_mismatch",
     "hw=0x10400,fault=dsp-checksum-off",
     connected("ZEL", "04.41") + processorUpdate("ZEL") +
         Lines{"Update Option(B10)", "OK    Erasing Flash ROMs on DSP module...",
               "OK    Programming Flash ROMs on DSP module...",
               "OK    Waiting for checksum from DSP module...", "ERROR - wrong checksum"},
     {"Update option failed,\nplease retry in Manual mode"},
     true},
};

class AutomaticRefusal : public AppTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(AutomaticRefusal, status_list_and_boxes) {
  const RefusalCase& c = GetParam();
  attach(c.simOptions);
  runOnce();
  EXPECT_EQ(lines(), c.lines);
  EXPECT_EQ(boxes(), c.boxes);
  EXPECT_FALSE(dialog->m_lastRunSucceeded);
  const bool timerStarted = std::find(host.operations.begin(), host.operations.end(),
                                      "setTimer 1 100") != host.operations.end();
  EXPECT_EQ(timerStarted, c.timerStarted);
  // Run puts the instrument's settings back and the port where it was.
  EXPECT_EQ(dialog->m_session.m_comm.m_baudRate, dialog->m_session.m_savedBaudRate);
  EXPECT_EQ(dialog->m_session.m_comm.m_parity, dialog->m_session.m_savedParity);
}

INSTANTIATE_TEST_SUITE_P(Automatic, AutomaticRefusal, ::testing::ValuesIn(kRefusalCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AppTest, option_seen_after_the_update_restarts_the_transfer_bar) {
  attach("hw=0x10000,version=04.40,hw-after=0x10400");
  int highestBeforeReboot = 0;
  int firstAfterNewFile = -1;
  host.when(
      [&] {
        const int pos = host.windows.front()->progressPos(kIdcTransferBar);
        bool newFile = false;
        for (const std::string& line : statusLines())
          newFile = newFile || line.find("after download") != std::string::npos;
        if (!newFile) highestBeforeReboot = std::max(highestBeforeReboot, pos);
        if (newFile && firstAfterNewFile < 0) firstAfterNewFile = pos;
        return false;
      },
      {});
  runOnce();
  EXPECT_EQ(highestBeforeReboot, kPercentCap);
  EXPECT_GE(firstAfterNewFile, 0);
  EXPECT_LT(firstAfterNewFile, 10);
  // The option's phase is the full scale now: OFDM.BIN's 120 packets, after the boot with the
  // loader and the transfer program again.
  EXPECT_EQ(dialog->expectedBytes, 13u + 21 + 120 * 261 + 21 + 514 + 6144 + 14);
}

TEST_F(AppTest, first_processor_attempt_fails_and_the_second_succeeds) {
  attach("hw=0x10000,fault=no-ready");
  // The instrument signals update mode only after the first attempt has given up waiting
  // (the wait for the signal serves no window events, so the status list tells).
  struct LateSignal : StatusListObserver {
    sim::Instrument* instrument = nullptr;
    void statusLineAdded(int, const std::string& text) override {
      if (text.rfind("ERROR Check ZEL in update mode", 0) == 0)
        instrument->options.faults.noReady = false;
    }
    void statusLineDeleted(int) override {}
    void statusListCleared() override {}
  } lateSignal;
  lateSignal.instrument = &instrument();
  addStatusListObserver(&lateSignal);
  runOnce();
  const Lines update = processorUpdate("ZEL");
  const Lines expected = connected("ZEL", "04.41") + Lines(update.begin(), update.begin() + 3) +
                         Lines{"ERROR Check ZEL in update mode (205)"} +
                         Lines(update.begin() + 2, update.end());
  EXPECT_EQ(lines(), expected);
  EXPECT_EQ(boxes(), std::vector<std::string>{kDone});
  expectProgrammed("NO_ATSC.bin", 0x50000);
  removeStatusListObserver(&lateSignal);
}

}  // namespace
}  // namespace app_test
