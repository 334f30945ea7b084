// The simulated operator, the sample update files and the choice of the program clock.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/clock.h"
#include "platform/host_files.h"
#include "platform/text_case.h"
#include "sim/registry.h"
#include "sim/sample_files.h"
#include "tests/sim/sim_fixture.h"
#include "tests/support/temp_dir.h"

namespace sim_testing {
namespace {

// The front-panel instructions of the manual workflow, as its message boxes show them.
constexpr const char* kFirmwareUpdateBox =
    "ZEL settings before update:\n- press key PRESET\n- press softkey SERVICE...\n- press "
    "softkey FIRMWARE UPDATE...,\n- press softkey YES.\nDisplay should now be black.";
constexpr const char* kRs232Box =
    "ZEL settings before update:\n- press hardkey SETUP\n- press softkey REMOTE...\n- press "
    "softkey RS232...\n- BAUDRATE 9600\n- DATABITS 8\n- PARITY NO\n- STOPBIT 1\n- HANDSHAKE "
    "XON/XOFF.";
constexpr const char* kWaitForBootBox =
    "Wait until ZEL is booted\nand the MEASURE screen\nof ZEL is displayed,\nthen press OK";

class OperatorTest : public SimTest {};

TEST_F(OperatorTest, FirmwareUpdateBoxPutsTheInstrumentIntoUpdateMode) {
  auto instrument = attach("sim:hw=0x10020");
  // Two instruments and no line opened yet: the operator does not know which one is meant.
  ASSERT_TRUE(sim::instrumentFor("sim:hw=0x10000"));
  EXPECT_FALSE(sim::operatorAcknowledged(kFirmwareUpdateBox));
  ASSERT_TRUE(openAt(9600));
  ASSERT_TRUE(send(std::string("SYST:MODE QAM\r\n")));
  EXPECT_TRUE(sim::operatorAcknowledged(kFirmwareUpdateBox));
  int cts = -1;
  int dsr = -1;
  ASSERT_TRUE(modemLines(cts, dsr));
  EXPECT_EQ(cts, 0);
  EXPECT_EQ(dsr, 1);
  EXPECT_FALSE(instrument->qamMode);  // PRESET ended QAM mode
}

TEST_F(OperatorTest, BeforeAnyLineIsOpenedTheOnlyInstrumentFollowsTheBox) {
  auto instrument = attach("sim:hw=0x10000");
  EXPECT_TRUE(sim::operatorAcknowledged(kFirmwareUpdateBox));
  EXPECT_EQ(instrument->mode(), sim::Mode::BootRom);
}

TEST_F(OperatorTest, Rs232BoxSetsTheListedSettings) {
  auto instrument = attach("sim:baud=1200,bits=7,parity=ODD,stop=2");
  ASSERT_TRUE(openAt(9600));
  EXPECT_TRUE(sim::operatorAcknowledged(kRs232Box));
  EXPECT_EQ(instrument->serial.baud, 9600u);
  EXPECT_EQ(instrument->serial.bits, 8);
  EXPECT_EQ(instrument->serial.parity, sim::SerialParity::None);
  EXPECT_EQ(instrument->serial.stopBits, 1);
  EXPECT_EQ(instrument->serial.pace, sim::Pace::Xon);
  EXPECT_EQ(query("SYST:COMM:SER:PACE?\r\n"), "XON");
}

TEST_F(OperatorTest, WaitBoxWaitsUntilTheInstrumentHasBooted) {
  auto instrument = attach("sim:boot-time=7,resident=yes");
  ASSERT_TRUE(openAt(9600));
  ASSERT_TRUE(send(std::string("SENSE:SWUP\r\n")));
  ASSERT_TRUE(openAt(19200, 8, kParityEven));
  ASSERT_EQ(exchange({0x2E}), Bytes{0xAE});
  const uint64_t bootAt = nowMs();
  EXPECT_TRUE(sim::operatorAcknowledged(kWaitForBootBox));
  EXPECT_EQ(instrument->mode(), sim::Mode::Normal);
  EXPECT_NEAR(static_cast<double>(nowMs() - bootAt), 7000.0, 2.0);
  // Other boxes ask nothing of the operator.
  EXPECT_FALSE(sim::operatorAcknowledged("Update of option\nsuccessfully completed."));
}

TEST(SampleFilesTest, WritesAConsistentSetThatFitsItsBanks) {
  testing_support::TempDir dir;
  ASSERT_EQ(sim::writeSampleUpdateFiles(dir.path()), 0);
  for (const sim::SampleFile& file : sim::kSampleFiles) {
    EXPECT_EQ(dir.read(file.name).size(), file.size) << file.name;
  }
  EXPECT_LE(dir.read("ROMWRITE.URL").size(), 512u);
  for (const char* image : {"NO_ATSC.bin", "NO_DVBT.bin", "QAM_B1.bin"}) {
    EXPECT_EQ(dir.read(image).size(), 0xA0000u) << image;
  }
  for (const char* image : {"NO_MPEG.bin", "NO_NICAM.bin", "NO_NICA.bin"}) {
    EXPECT_LE(dir.read(image).size(), 0x80000u) << image;
  }
  for (const char* image : {"QAM.BIN", "ATSC.BIN", "OFDM.BIN"}) {
    EXPECT_EQ(dir.read(image).size() % 4, 0u) << image;
  }
  EXPECT_NE(dir.read("NO_ATSC.bin"), dir.read("NO_DVBT.bin"));

  // A file of the same name in other case is replaced, not doubled.
  testing_support::TempDir other;
  other.write("qam.bin", "old");
  ASSERT_EQ(sim::writeSampleUpdateFiles(other.path() + "/"), 0);
  EXPECT_EQ(other.read("qam.bin").size(), 0x6000u);
  int named = 0;
  for (const auto& entry : std::filesystem::directory_iterator(other.path())) {
    named += platform::equalNoCase(entry.path().filename().string(), "qam.bin") ? 1 : 0;
  }
  EXPECT_EQ(named, 1);

  EXPECT_EQ(sim::writeSampleUpdateFiles(dir.file("no such folder")), 1);
}

TEST(SimClockTest, SpeedOptionChoosesTheProgramClock) {
  EXPECT_NE(sim::installClockFor("sim:speed=warp"), "");
  EXPECT_EQ(sim::installClockFor("sim:speed=virtual"), "");
  platform::clock().sleepMicros(3600000000ull);  // an hour passes at once
  EXPECT_EQ(platform::clock().nowMicros(), 3600000000ull);
  EXPECT_EQ(sim::installClockFor("sim:speed=1000"), "");
  const uint64_t before = platform::clock().nowMicros();
  platform::clock().sleepMicros(100000);  // 0.1 ms of real time
  EXPECT_GE(platform::clock().nowMicros() - before, 100000u);
  sim::uninstallClock();
}

}  // namespace
}  // namespace sim_testing
