// The virtual line: framing, byte timing, modem lines, queues, exclusive use.
#include <gtest/gtest.h>

#include "platform/clock.h"
#include "sim/registry.h"
#include "sim/sim_port.h"
#include "tests/sim/sim_fixture.h"

namespace sim_testing {
namespace {

constexpr const char* kNoError = "0,\"No error\"";
constexpr const char* kUndefinedHeader = "-113,\"Undefined header\"";

class LineTest : public SimTest {};

TEST_F(LineTest, AnswersOnlyAtItsOwnSettings) {
  struct Row {
    int baud, bits, parity, stop;
    bool answered;
  };
  // The instrument is at 4800 baud, 7 data bits, even parity, 2 stop bits.
  const Row rows[] = {
      {4800, 7, kParityEven, 2, true},
      {4800, 7, kParityEven, 0, true},   // one stop bit: a receiver checks only the first
      {9600, 7, kParityEven, 2, false},  // baud differs
      {2400, 7, kParityEven, 2, false},
      {4800, 8, kParityEven, 2, false},  // data bits differ
      {4800, 7, kParityOdd, 2, false},   // parity differs
      {4800, 7, kParityNone, 2, false},
      {4800, 8, kParityNone, 0, false},  // the same character length, other framing
  };
  int serial = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message()
                 << row.baud << " " << row.bits << " " << row.parity << " " << row.stop);
    auto instrument =
        attach("sim:baud=4800,bits=7,parity=EVEN,stop=2,serial=" + std::to_string(++serial));
    ASSERT_TRUE(openAt(row.baud, row.bits, row.parity, row.stop));
    EXPECT_EQ(query("SYST:ERR?\r\n"), row.answered ? kNoError : "");
    EXPECT_EQ(instrument->counters.garbledBytes > 0, !row.answered);
    // At the right settings, after a line end, the garbage shows as an error.
    ASSERT_TRUE(openAt(4800, 7, kParityEven, 2));
    EXPECT_EQ(query("\r\nSYST:ERR?\r\n"), row.answered ? kNoError : kUndefinedHeader);
  }
}

TEST_F(LineTest, AnswerAtOtherSettingsArrivesAsGarbage) {
  const std::string answer = "QUORIX&VANTEL,ZEL,57,04.41 \r\n";
  struct Row {
    int baud, bits, parity;
  };
  const Row rows[] = {{19200, 8, kParityNone}, {4800, 8, kParityNone}, {9600, 7, kParityOdd}};
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.baud << " " << row.bits << " " << row.parity);
    attach("sim:serial=" + std::to_string(row.baud + row.bits));
    ASSERT_TRUE(openAt(9600));
    ASSERT_TRUE(send(std::string("*IDN?\r\n")));
    // The host moves to other settings before the answer comes.
    ASSERT_TRUE(openAt(row.baud, row.bits, row.parity));
    const Bytes garbage = readRaw(60, 300);
    EXPECT_FALSE(garbage.empty());
    EXPECT_NE(garbage, Bytes(answer.begin(), answer.end()));
    comm.close();
  }
}

// The garbage is the same for the same seed, and another seed samples other edges.
TEST_F(LineTest, GarbageRepeatsForTheSameSeed) {
  const auto garbageOf = [&](const std::string& portName) {
    attach(portName);
    EXPECT_TRUE(openAt(9600));
    EXPECT_TRUE(send(std::string("SYSTEM:SERVICE:GET:BOARD:INFO?\r\n")));
    EXPECT_TRUE(openAt(57600));
    const Bytes garbage = readRaw(400, 300);
    comm.close();
    return garbage;
  };
  const Bytes first = garbageOf("sim:seed=3");
  EXPECT_EQ(garbageOf("sim:seed=3,serial=2"), first);
  bool differs = false;
  for (int seed = 4; seed < 12 && !differs; ++seed) {
    differs = garbageOf("sim:seed=" + std::to_string(seed)) != first;
  }
  EXPECT_TRUE(differs);
}

TEST_F(LineTest, BytesTakeTheirLineTime) {
  struct Row {
    const char* instrument;
    int baud, bits, parity, stop;
    uint64_t frameBitsTimes2;
  };
  const Row rows[] = {
      {"sim:", 9600, 8, kParityNone, 0, 20},
      {"sim:baud=1200,bits=7,parity=EVEN,stop=2", 1200, 7, kParityEven, 2, 22},
      {"sim:baud=19200,parity=ODD", 19200, 8, kParityOdd, 0, 22},
  };
  const std::string command = "*IDN?\r\n";
  const size_t answerBytes = std::string("QUORIX&VANTEL,ZEL,57,04.41 \r\n").size();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.instrument);
    attach(row.instrument);
    ASSERT_TRUE(openAt(row.baud, row.bits, row.parity, row.stop));
    const uint64_t frameNs = row.frameBitsTimes2 * 1000000000ull / (2ull * row.baud);
    const uint64_t start = clock.nowMicros();
    ASSERT_TRUE(send(command));
    // The write returns when the last byte has left.
    EXPECT_NEAR(static_cast<double>(clock.nowMicros() - start),
                static_cast<double>(command.size() * frameNs) / 1000.0, 2.0);
    ASSERT_EQ(readRaw(static_cast<uint32_t>(answerBytes)).size(), answerBytes);
    const double expectedUs =
        static_cast<double>((command.size() + answerBytes) * frameNs + sim::kTextAnswerDelayNs) /
        1000.0;
    EXPECT_NEAR(static_cast<double>(clock.nowMicros() - start), expectedUs, 3.0);
  }
}

TEST_F(LineTest, ModemLinesFollowTheMode) {
  auto instrument = attach("sim:boot-time=2");
  ASSERT_TRUE(openAt(9600));
  int cts = -1;
  int dsr = -1;
  ASSERT_TRUE(modemLines(cts, dsr));
  EXPECT_EQ(cts, 1);
  EXPECT_EQ(dsr, 1);

  ASSERT_TRUE(send(std::string("SENSE:SWUP\r\n")));
  ASSERT_TRUE(modemLines(cts, dsr));
  EXPECT_EQ(cts, 0);  // update mode: CTS off, DSR on
  EXPECT_EQ(dsr, 1);
  EXPECT_EQ(instrument->mode(), sim::Mode::BootRom);

  // Closing and opening the port keeps the instrument where it is.
  comm.close();
  ASSERT_TRUE(openAt(19200, 8, kParityEven));
  ASSERT_TRUE(modemLines(cts, dsr));
  EXPECT_EQ(cts, 0);
  EXPECT_EQ(dsr, 1);
}

TEST_F(LineTest, LongWriteWaitsForRoomInTheOutputQueue) {
  attach("sim:");
  auto device = sim::createDevice(name);
  ASSERT_TRUE(device && device->open());
  serial::LineSettings settings;
  settings.baudRate = 9600;
  ASSERT_TRUE(device->setSettings(settings));
  const uint64_t frameNs = 10 * 1000000000ull / 9600;
  const std::vector<uint8_t> block(10000, 'x');
  uint32_t written = 0;
  const uint64_t start = clock.nowMicros();
  ASSERT_TRUE(device->write(block.data(), static_cast<uint32_t>(block.size()), written));
  EXPECT_EQ(written, block.size());
  // Returns once the rest fits into the queue of 5072 bytes.
  EXPECT_NEAR(static_cast<double>(clock.nowMicros() - start),
              static_cast<double>((block.size() - sim::kHostOutputQueueBytes) * frameNs) / 1000.0,
              2.0);
  ASSERT_TRUE(device->drain());
  EXPECT_NEAR(static_cast<double>(clock.nowMicros() - start),
              static_cast<double>(block.size() * frameNs) / 1000.0, 2.0);
}

TEST_F(LineTest, PurgeDiscardsWhatWaits) {
  attach("sim:");
  auto device = sim::createDevice(name);
  ASSERT_TRUE(device && device->open());
  const std::string command = "*IDN?\r\n";
  uint32_t written = 0;

  // Output: a command purged before it has gone out never reaches the instrument.
  ASSERT_TRUE(device->write(reinterpret_cast<const uint8_t*>(command.data()),
                            static_cast<uint32_t>(command.size()), written));
  ASSERT_TRUE(device->purge(false, true));
  uint8_t byte = 0;
  clock.sleepMicros(500000);
  EXPECT_EQ(device->readByte(byte), serial::ReadResult::Empty);

  // Input: an answer that has arrived is gone after the purge.
  ASSERT_TRUE(device->write(reinterpret_cast<const uint8_t*>(command.data()),
                            static_cast<uint32_t>(command.size()), written));
  clock.sleepMicros(500000);
  ASSERT_TRUE(device->purge(true, false));
  EXPECT_EQ(device->readByte(byte), serial::ReadResult::Empty);
}

TEST_F(LineTest, EmptyReadReturnsAfter100Ms) {
  attach("sim:");
  auto device = sim::createDevice(name);
  ASSERT_TRUE(device && device->open());
  uint8_t byte = 0;
  const uint64_t start = clock.nowMicros();
  EXPECT_EQ(device->readByte(byte), serial::ReadResult::Empty);
  EXPECT_EQ(clock.nowMicros() - start, 100000u);
}

TEST_F(LineTest, OneHostAtATimeAndBadNamesAreAbsent) {
  attach("sim:serial=1");
  auto first = sim::createDevice(name);
  auto second = sim::createDevice(name);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(sim::probe(name), serial::ProbeResult::Free);
  ASSERT_TRUE(first->open());
  EXPECT_EQ(sim::probe(name), serial::ProbeResult::InUse);
  EXPECT_FALSE(second->open());
  first->close();
  EXPECT_TRUE(second->open());

  EXPECT_EQ(sim::probe("sim:colour=red"), serial::ProbeResult::Absent);
  EXPECT_EQ(sim::createDevice("sim:colour=red"), nullptr);
  EXPECT_EQ(sim::instrumentFor("sim:colour=red"), nullptr);
}

TEST_F(LineTest, OneInstrumentPerPortNameForTheProgramsLife) {
  auto instrument = attach("sim:baud=2400");
  ASSERT_TRUE(openAt(2400));
  ASSERT_TRUE(send(std::string("SYST:COMM:SER:BAUD 19200\r\n")));
  comm.close();
  EXPECT_EQ(sim::instrumentFor("sim:baud=2400"), instrument);
  EXPECT_NE(sim::instrumentFor("sim:baud=2400,serial=58"), instrument);
  ASSERT_TRUE(openAt(19200));
  EXPECT_EQ(query("SYST:COMM:SER:BAUD?\r\n"), "19200");
}

}  // namespace
}  // namespace sim_testing
