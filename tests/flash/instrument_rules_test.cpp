// The host's commands against the rules the simulated instrument holds it to: the echo of
// every byte the target sends, the board's own flash, the bus width of each request, and
// the time a USB adapter holds received bytes.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "flash/processor_update.h"
#include "flash/programming_link.h"
#include "flash/result_codes.h"
#include "flash/target_commands.h"
#include "run/run_state.h"
#include "serial/forwarding_serial_device.h"
#include "tests/flash/sim_update.h"

namespace flash_test {
namespace {

using Lines = std::vector<std::string>;

constexpr uint8_t kB8 = 1;
constexpr uint8_t kB16 = 2;
constexpr uint8_t kB32 = 3;
constexpr uint8_t kAm29F040 = 22;
constexpr uint32_t kBank = 0x50000;

Lines statusLines() {
  Lines lines;
  for (int i = 0; i < statusLineCount(); ++i) lines.push_back(statusLineText(i));
  return lines;
}

// The host's end of the line with one fault: the echo written as the `spoiled`-th single
// byte (counted from 0 once armed) goes out with its lowest bit flipped.
class SpoiledEcho : public serial::ForwardingSerialDevice {
 public:
  SpoiledEcho(std::unique_ptr<serial::SerialDevice> inner, int spoiled)
      : ForwardingSerialDevice(std::move(inner)), m_spoiled(spoiled) {}

 protected:
  bool writeImpl(const uint8_t* data, uint32_t size, uint32_t& written) override {
    if (size == 1 && m_echoes++ == m_spoiled) {
      const uint8_t spoiled = static_cast<uint8_t>(data[0] ^ 0x01);
      return m_inner->write(&spoiled, 1, written);
    }
    return m_inner->write(data, size, written);
  }

 private:
  int m_spoiled;
  int m_echoes = 0;
};

// The transfer program of a memory-extension board running, the link at its speed.
void startTransferProgram(SimUpdate& run) {
  run.writeUpdateFiles();
  run.writeAutomaticJob(0x10000, false);
  ASSERT_EQ(prepareUpdateTarget("romwrite.cnf", run.port, kProcessorLinkTimeoutMs), kResultOk);
}

// Power on: acknowledgement 02 20 00 20 00, then the answer 02 A2 44 E6 00, each byte echoed.
// A wrong echo makes the target drop the rest of that packet; what the host then reads
// decides the code.
TEST(InstrumentRules, WrongEchoFailsTheExchangeWithItsCode) {
  struct Row {
    int spoiled;  // which echo, 0 to 4 of the acknowledgement, 5 to 9 of the answer
    int32_t code;
    uint32_t echoErrors;
  };
  const Row rows[] = {
      // The acknowledgement cut short: the host takes its missing bytes from the answer,
      // whose sum then does not match, and sends again; the target takes the first byte of
      // that request for the echo of its pending answer (a second wrong echo), and the
      // third send is acknowledged and answered.
      {0, kResultOk, 2},
      {2, kResultOk, 2},
      {3, kResultOk, 2},
      // The answer cut short: nothing asks for it again.
      {5, kResultAnswerIncomplete, 1},
      {7, kResultAnswerIncomplete, 1},
      // The last byte's echo of either packet: nothing of it is left to drop.
      {4, kResultOk, 1},
      {9, kResultOk, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.spoiled);
    SimUpdate run("serial=" + std::to_string(row.spoiled));
    startTransferProgram(run);
    run.port.m_port = std::make_unique<SpoiledEcho>(std::move(run.port.m_port), row.spoiled);
    EXPECT_EQ(programmingPowerOn(run.port), row.code);
    EXPECT_EQ(run.instrument->counters.echoErrors, row.echoErrors);
  }
}

// A job written for another board than the instrument's: the failure shows at the
// identification of its bank or at the erase, with the step's own lines.
TEST(InstrumentRules, JobForTheOtherBoardFailsAtIdentificationOrErase) {
  struct Row {
    const char* instrument;
    const char* memory;  // the job's bank and chips
    int32_t result;
    Lines lastLines;
  };
  const Row rows[] = {
      // No memory extension: nothing at 0x50000.
      {"hw=0",
       "MEMORY = 0x50000,0x100000,AM29F040\nERASE = 0x50000,0xA0000\n",
       kResultTargetErrorF3,
       {"Get manufactuer returnwert 2307!!!", "ERROR - get EPROM type, update aborted"}},
      // The extension's AM29F040 answer where a board without it has I28F020.
      {"hw=0x10000",
       "MEMORY = 0x80000,0x80000,I28F020\nERASE = 0x80000,0x80000\n",
       1539,
       {"ERROR - check EPROM, maybe too less memory, update aborted"}},
      // Chips of the same family pass the identification; the erase names the wrong type.
      {"hw=0",
       "MEMORY = 0x80000,0x80000,AM28F020\nERASE = 0x80000,0x80000\n",
       kResultUnexpectedAnswer,
       {"Update processor firmware", "ERROR Delete flash (905)"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.instrument);
    SimUpdate run(row.instrument);
    run.writeUpdateFiles();
    run.dir.write("ROMWRITE.CNF",
                  std::string("[HOST]\nUART = COM13\nBAUD = 115200\nFLASHUPSTRING = NO\n"
                              "URLADER = romwrite.url\nTRANSFER = romwrite.tra, 0x100, 0x100\n"
                              "CONTINUE = NO\n[TARGET]\nPROCESSOR = I80X86\nARCHITECTURE = B16\n") +
                      row.memory + "[FILES]\n");
    EXPECT_EQ(updateProcessorFirmware("romwrite.cnf", run.port, 1), row.result);
    const Lines lines = statusLines();
    ASSERT_GE(lines.size(), row.lastLines.size());
    EXPECT_EQ(Lines(lines.end() - static_cast<long>(row.lastLines.size()), lines.end()),
              row.lastLines);
  }
}

// The board's bus is 16 bits wide; a request for another width is refused as malformed.
TEST(InstrumentRules, WrongBusWidthIsRefused) {
  SimUpdate run("");
  startTransferProgram(run);
  ASSERT_EQ(programmingPowerOn(run.port), kResultOk);
  for (uint8_t width : {kB8, kB16, kB32}) {
    SCOPED_TRACE(int{width});
    const int32_t expected = width == kB16 ? kResultOk : kResultUnexpectedAnswer;
    uint8_t manufacturer[4] = {};
    uint8_t device[4] = {};
    EXPECT_EQ(getEpromType(kBank, width, kAm29F040, manufacturer, device, run.port), expected);
    uint32_t sum = 0;
    EXPECT_EQ(getTargetChecksum(width, kBank, 0x100, sum, run.port), expected);
    uint32_t failAddress = 0;
    EXPECT_EQ(eraseFlash(width, kAm29F040, kBank, 0x10000, failAddress, run.port), expected);
  }
}

// Each byte the target sends waits for its echo, and the adapter holds each one for its
// latency: an exchange of ten echoed bytes costs ten latency times more.
TEST(InstrumentRules, AdapterLatencyDelaysEveryEchoedByte) {
  struct Row {
    uint32_t latencyMs;
  };
  const Row rows[] = {{0}, {1}, {16}};
  uint32_t baseMs = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.latencyMs);
    SimUpdate run("latency=" + std::to_string(row.latencyMs));
    startTransferProgram(run);
    const uint32_t start = run.nowMs();
    ASSERT_EQ(programmingPowerOn(run.port), kResultOk);
    const uint32_t elapsed = run.nowMs() - start;
    if (row.latencyMs == 0) baseMs = elapsed;
    EXPECT_NEAR(elapsed, baseMs + 10 * row.latencyMs, 2);
  }
}

}  // namespace
}  // namespace flash_test
