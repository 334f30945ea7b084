// The faults of the "fault" option: each does what it says, and the random ones are the
// same for the same seed.
#include <gtest/gtest.h>

#include "tests/sim/sim_fixture.h"

namespace sim_testing {
namespace {

constexpr uint32_t kBank = 0x50000;

Bytes programChunk(uint32_t address, size_t size) {
  Bytes request = {0x25, 2, 22};
  putLe32(request, address);
  request.push_back(static_cast<uint8_t>(size));
  request.push_back(static_cast<uint8_t>(size >> 8));
  for (size_t i = 0; i < size; ++i) request.push_back(static_cast<uint8_t>(i));
  return request;
}

class FaultsTest : public SimTest {
 protected:
  // Transfer program running, the AM29F040 bank at 0x50000 known, voltage on, its first
  // block erased.
  void prepareErasedBank() {
    ASSERT_TRUE(enterTransferProgram());
    ASSERT_EQ(exchange({0x22}), (Bytes{0xA2, 'D'}));
    Bytes type = {0x21, 2, 22};
    putLe32(type, kBank);
    ASSERT_EQ(exchange(type).size(), 9u);
    Bytes erase = {0x27, 2, 22};
    putLe32(erase, kBank);
    putLe32(erase, 0x20000);
    ASSERT_EQ(exchange(erase).size(), 2u);
  }
};

TEST_F(FaultsTest, SilentNeverAnswers) {
  auto instrument = attach("sim:fault=silent");
  ASSERT_TRUE(openAt(9600));
  EXPECT_EQ(query("*IDN?\r\n"), "");
  EXPECT_EQ(instrument->counters.textCommands, 1u);  // it did hear the command
  EXPECT_EQ(instrument->faultsFired["silent"], 1u);
}

TEST_F(FaultsTest, NoReadyKeepsCtsOnInUpdateMode) {
  auto instrument = attach("sim:fault=no-ready");
  ASSERT_TRUE(openAt(9600));
  ASSERT_TRUE(send(std::string("SENSE:SWUP\r\n")));
  int cts = -1;
  int dsr = -1;
  ASSERT_TRUE(modemLines(cts, dsr));
  EXPECT_EQ(cts, 1);
  EXPECT_EQ(dsr, 1);
  EXPECT_EQ(instrument->mode(), sim::Mode::BootRom);
  EXPECT_EQ(instrument->faultsFired["no-ready"], 1u);
}

TEST_F(FaultsTest, LoaderRejectAnswersC) {
  auto instrument = attach("sim:fault=loader-reject");
  ASSERT_TRUE(openAt(9600));
  ASSERT_TRUE(send(std::string("SENSE:SWUP\r\n")));
  ASSERT_TRUE(openAt(19200, 8, kParityEven));
  ASSERT_TRUE(send(loaderDownload(115200)));
  EXPECT_EQ(readRaw(1), Bytes{'C'});
  EXPECT_EQ(instrument->mode(), sim::Mode::BootRom);
}

TEST_F(FaultsTest, EraseFailNamesAnAddressInsideTheArea) {
  auto instrument = attach("sim:fault=erase-fail,seed=5");
  ASSERT_TRUE(enterTransferProgram());
  ASSERT_EQ(exchange({0x22}), (Bytes{0xA2, 'D'}));
  Bytes type = {0x21, 2, 22};
  putLe32(type, kBank);
  ASSERT_EQ(exchange(type).size(), 9u);
  Bytes erase = {0x27, 2, 22};
  putLe32(erase, kBank);
  putLe32(erase, 0xA0000);
  const Bytes answer = exchange(erase);
  ASSERT_EQ(answer.size(), 6u);
  EXPECT_EQ(answer[0], 0xA7);
  EXPECT_EQ(answer[1], 'A');
  const uint32_t failedAt = le32(answer, 2);
  EXPECT_GE(failedAt, kBank);
  EXPECT_LT(failedAt, kBank + 0xA0000);
  // The block where it failed is not erased.
  const uint32_t failedBlock = failedAt - (failedAt - kBank) % 0x20000;
  EXPECT_NE(instrument->flashBytes(failedBlock, 0x20000), Bytes(0x20000, 0xFF));
  if (failedBlock > kBank) {
    EXPECT_EQ(instrument->flashBytes(kBank, 0x20000), Bytes(0x20000, 0xFF));
  }
  EXPECT_EQ(instrument->faultsFired["erase-fail"], 1u);
}

TEST_F(FaultsTest, ProgramFailNamesAnAddressInsideTheChunk) {
  attach("sim:fault=program-fail");
  prepareErasedBank();
  const Bytes answer = exchange(programChunk(kBank + 0x1000, 240));
  ASSERT_EQ(answer.size(), 6u);
  EXPECT_EQ(answer[0], 0xA5);
  EXPECT_EQ(answer[1], 'C');
  EXPECT_GE(le32(answer, 2), kBank + 0x1000);
  EXPECT_LT(le32(answer, 2), kBank + 0x1000 + 240);
}

TEST_F(FaultsTest, ChecksumOffDiffersFromTheBytes) {
  auto instrument = attach("sim:fault=checksum-off");
  prepareErasedBank();
  Bytes request = {0x26, 2};
  putLe32(request, kBank);
  putLe32(request, 0x100);
  const Bytes answer = exchange(request);
  ASSERT_EQ(answer.size(), 5u);
  EXPECT_NE(le32(answer, 1), 0xFFu * 0x100);
  EXPECT_EQ(instrument->faultsFired["checksum-off"], 1u);
}

// Two programmed bytes change in opposite directions: the checksum cannot see it, a read back
// does; only the first chunk after an erase is struck.
TEST_F(FaultsTest, FlashCorruptKeepsTheSumAndChangesTwoBytes) {
  auto instrument = attach("sim:fault=flash-corrupt");
  prepareErasedBank();
  for (uint32_t chunk = 0; chunk < 2; ++chunk) {
    ASSERT_EQ(exchange(programChunk(kBank + chunk * 240, 240)), (Bytes{0xA5, 0x00}));
  }
  Bytes request = {0x26, 2};
  putLe32(request, kBank);
  putLe32(request, 480);
  const Bytes answer = exchange(request);
  ASSERT_EQ(answer.size(), 5u);
  uint32_t sum = 0;
  for (uint32_t i = 0; i < 240; ++i) sum += 2 * i;
  EXPECT_EQ(le32(answer, 1), sum);
  const std::vector<uint8_t> flash = instrument->flashBytes(kBank, 480);
  std::vector<uint32_t> differing;
  for (uint32_t i = 0; i < 480; ++i) {
    if (flash[i] != static_cast<uint8_t>(i % 240)) differing.push_back(kBank + i);
  }
  EXPECT_EQ(differing, instrument->corruptedAddresses);
  ASSERT_EQ(differing.size(), 2u);
  EXPECT_LT(differing[1], kBank + 240);
  EXPECT_EQ(instrument->faultsFired["flash-corrupt"], 1u);
}

TEST_F(FaultsTest, DspFaults) {
  struct Row {
    const char* instrument;
    uint32_t eraseStatus;
    bool checksumRight;
  };
  const Row rows[] = {
      {"sim:hw=0x10400", 0, true},
      {"sim:hw=0x10400,fault=dsp-erase-fail", 2, true},
      {"sim:hw=0x10400,fault=dsp-checksum-off", 0, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.instrument);
    attach(row.instrument);
    ASSERT_TRUE(openAt(9600));
    ASSERT_TRUE(enterTransferProgram());
    Bytes erase = {0x29};
    putLe32(erase, 1);
    Bytes answer = exchange(erase);
    ASSERT_EQ(answer.size(), 5u);
    EXPECT_EQ(le32(answer, 1), row.eraseStatus);
    Bytes write = {0x2A};
    putLe32(write, 1);
    putLe32(write, 0x12345678);
    write.resize(245, 0);
    exchange(write);
    answer = exchange({0x2C});
    ASSERT_EQ(answer.size(), 9u);
    // Without a successful erase there is no image area, so its sum is 0.
    const uint32_t expected = row.eraseStatus == 0 ? 0x12345678u : 0u;
    EXPECT_EQ(le32(answer, 1) == expected, row.checksumRight);
    comm.close();
  }
}

TEST_F(FaultsTest, NackRefusesTheFirstProgramPacketsWithAStatusPacketBehind) {
  auto instrument = attach("sim:fault=nack=2");
  prepareErasedBank();
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(exchange(programChunk(kBank, 16)), (Bytes{0x20, 0xF4}));
    Bytes extra;
    ASSERT_TRUE(receivePacket(extra));  // the second packet after a negative answer
  }
  EXPECT_EQ(exchange(programChunk(kBank, 16)), (Bytes{0xA5, 0x00}));
  EXPECT_EQ(instrument->faultsFired["nack"], 2u);
  EXPECT_EQ(instrument->counters.programPackets, 3u);
}

TEST_F(FaultsTest, NoiseOnHostBytesBreaksRequests) {
  auto instrument = attach("sim:fault=noise=1");
  ASSERT_TRUE(enterTransferProgram());  // raw downloads are spared
  EXPECT_EQ(exchange({0x22}), Bytes{});
  EXPECT_GT(instrument->faultsFired["noise"], 0u);
  EXPECT_FALSE(instrument->programmingPower);
}

TEST_F(FaultsTest, NoiseOnTargetBytesShowsAsEchoErrors) {
  auto instrument = attach("sim:fault=noise-back=1");
  ASSERT_TRUE(enterTransferProgram());
  EXPECT_EQ(exchange({0x22}), Bytes{});
  EXPECT_GT(instrument->counters.echoErrors, 0u);
  EXPECT_GT(instrument->faultsFired["noise-back"], 0u);
}

TEST_F(FaultsTest, DropLosesHostBytes) {
  auto instrument = attach("sim:fault=drop=1");
  ASSERT_TRUE(enterTransferProgram());
  EXPECT_EQ(exchange({0x22}), Bytes{});
  EXPECT_EQ(instrument->faultsFired["drop"], 4u);  // the whole request
  EXPECT_EQ(instrument->counters.requestPackets, 0u);
}

TEST_F(FaultsTest, RandomFaultsRepeatForTheSameSeed) {
  struct Outcome {
    uint32_t noise, drop, requests, bad, dropped;
    bool operator==(const Outcome&) const = default;
  };
  const auto run = [&](const std::string& portName) {
    auto instrument = attach(portName);
    EXPECT_TRUE(enterTransferProgram());
    for (int i = 0; i < 40; ++i) exchange({0x22});
    clock.sleepMicros(2000000);
    instrument->advance();
    comm.close();
    return Outcome{instrument->faultsFired["noise"], instrument->faultsFired["drop"],
                   instrument->counters.requestPackets, instrument->counters.badChecksumPackets,
                   instrument->counters.droppedPackets};
  };
  const Outcome first = run("sim:fault=noise=0.05+drop=0.02,seed=7");
  const Outcome again = run("sim:fault=noise=0.05+drop=0.02,seed=7,serial=58");
  const Outcome other = run("sim:fault=noise=0.05+drop=0.02,seed=8");
  EXPECT_EQ(first, again);
  EXPECT_FALSE(first == other);
  EXPECT_GT(first.noise, 0u);
  EXPECT_GT(first.requests, 0u);
}

TEST_F(FaultsTest, UnplugKillsTheLineAfterNBytes) {
  auto instrument = attach("sim:fault=unplug=40");
  ASSERT_TRUE(openAt(9600));
  // 7 bytes out, 29 back: all within the 40.
  EXPECT_EQ(query("*IDN?\r\n"), "QUORIX&VANTEL,ZEL,57,04.41 ");
  EXPECT_EQ(query("SYST:ERR?\r\n"), "");
  int cts = -1;
  int dsr = -1;
  ASSERT_TRUE(modemLines(cts, dsr));
  EXPECT_EQ(cts + dsr, 0);
  EXPECT_TRUE(instrument->lineDead);
  EXPECT_EQ(instrument->faultsFired["unplug"], 1u);
}

}  // namespace
}  // namespace sim_testing
