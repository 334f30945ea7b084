// Whole processor updates over a damaged line, and cancels in the middle of a run, against
// the simulated instrument on the virtual clock.
#include <gtest/gtest.h>

#include <cstdio>
#include <numeric>
#include <string>

#include "flash/processor_update.h"
#include "flash/result_codes.h"
#include "flash/target_commands.h"
#include "platform/message_pump.h"
#include "run/run_state.h"
#include "tests/flash/sim_update.h"

namespace flash_test {
namespace {

using std::string;

uint32_t byteSum(const std::vector<uint8_t>& bytes) {
  return std::accumulate(bytes.begin(), bytes.end(), 0u);
}

std::string hex(int32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "%lX", static_cast<unsigned long>(static_cast<uint32_t>(code)));
  return text;
}

struct NoisyRun {
  int32_t result;
  bool flashMatches;
  bool sumMatches;
  uint32_t elapsedMs;
  string lastLine;
};

NoisyRun runWith(const string& options) {
  SimUpdate run(options);
  run.writeUpdateFiles();
  run.writeAutomaticJob(0x10000, false);
  const uint32_t start = run.nowMs();
  NoisyRun outcome{};
  outcome.result = updateProcessorFirmware("romwrite.cnf", run.port, 1);
  outcome.elapsedMs = run.nowMs() - start;
  const std::vector<uint8_t> flash = run.instrument->flashBytes(0x50000, kImageBytes);
  const std::vector<uint8_t> image = fileBytes(run.dir.file("NO_ATSC.bin"));
  outcome.flashMatches = flash == image;
  outcome.sumMatches = byteSum(flash) == byteSum(image);
  outcome.lastLine = statusLines().empty() ? "" : statusLines().back();
  return outcome;
}

// One host byte in 10000 damaged. A damaged request draws an error answer and is sent
// again; a damaged echo makes the target give up the packet it was sending: an
// acknowledgement is then asked for again by the next send, but a chunk's answer is not,
// and the run ends on the programming line with the answer receive's time-out. Two
// damaged bits that cancel out in one packet pass both the packet sum and the target
// checksum (the protocol's sums are additive): a success then still has the image's sum.
TEST(NoisyLine, DamagedRequestsAreRepairedAndALostAnswerEndsTheRun) {
  int succeeded = 0;
  int lost = 0;
  for (int seed = 1; seed <= 12; ++seed) {
    SCOPED_TRACE(seed);
    const NoisyRun run = runWith("fault=noise=0.0001,seed=" + std::to_string(seed));
    if (run.result == kResultOk) {
      EXPECT_TRUE(run.sumMatches);
      ++succeeded;
      continue;
    }
    EXPECT_EQ(run.result, 0x20000 + kResultAnswerIncomplete);
    EXPECT_EQ(run.lastLine, "ERROR Download processor firmware (20113)");
    ++lost;
  }
  // About a quarter of the runs meet no damaged answer echo (5 echoed bytes per chunk).
  EXPECT_GE(succeeded, 2);
  EXPECT_GE(lost, 2);
}

// Damage on the way back is not repaired for command answers: the run fails with the code
// of the step that met it, the step's line shows that code, and it never passes as success
// with flash that differs.
TEST(NoisyLine, DamagedAnswersFailWithTheCodeOfTheirStep) {
  for (int seed = 1; seed <= 6; ++seed) {
    SCOPED_TRACE(seed);
    const NoisyRun run = runWith("fault=noise-back=0.0005,seed=" + std::to_string(seed));
    if (run.result == kResultOk) {
      EXPECT_TRUE(run.flashMatches);
      continue;
    }
    const string suffix = " (" + hex(run.result) + ")";
    EXPECT_TRUE(run.lastLine.size() > suffix.size() &&
                run.lastLine.compare(run.lastLine.size() - suffix.size(), suffix.size(), suffix) ==
                    0)
        << run.lastLine;
    EXPECT_EQ(run.lastLine.rfind("ERROR ", 0), 0u);
    // The slowest honest run takes about 70 s; a failing one adds at most one round of
    // tries or polls.
    EXPECT_LT(run.elapsedMs, 200000u);
  }
}

// The Cancel button, served inside the engine's message pump once this many bytes went
// out, or once the status list ends with the given line.
class CancelWhen {
 public:
  CancelWhen(uint32_t bytes, string line) {
    platform::setMessagePumpHook([bytes, line] {
      if (cancelRequested || bytesSent < bytes ||
          (!line.empty() && statusLineText(statusLineCount() - 1) != line))
        return false;
      cancelRequested = 1;  // the click on Cancel, confirmed
      return true;
    });
  }
  ~CancelWhen() { platform::setMessagePumpHook(nullptr); }
};

TEST(NoisyLine, CancelEndsTheRunWithItsCode) {
  struct Row {
    uint32_t afterBytes;
    string atLine;
    string lastLine;
  } rows[] = {
      {100000, "", "ERROR Download processor firmware (FFFF)"},
      {0, "Delete flash", "ERROR Delete flash (FFFF)"},
      {0, "Get checksum from target", "ERROR Get checksum from target (FFFF)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.lastLine);
    SimUpdate run("");
    run.writeUpdateFiles();
    run.writeAutomaticJob(0x10000, false);
    CancelWhen cancel(row.afterBytes, row.atLine);
    EXPECT_EQ(updateProcessorFirmware("romwrite.cnf", run.port, 1), kResultCancelled);
    EXPECT_EQ(statusLines().back(), row.lastLine);
    EXPECT_EQ(run.instrument->counters.boots, 0u);
    // Every later packet operation of the run reports the cancel.
    EXPECT_EQ(programmingPowerOff(run.port), kResultCancelled);
  }
}

TEST(NoisyLine, CancelDuringTheRawDownloadsFailsThem) {
  SimUpdate run("");
  run.writeUpdateFiles();
  run.writeAutomaticJob(0x10000, false);
  CancelWhen cancel(1, "");
  EXPECT_EQ(updateProcessorFirmware("romwrite.cnf", run.port, 1), kResultLoaderNotSent);
  EXPECT_EQ(statusLines().back(), "ERROR Download bootloader (204)");
}

}  // namespace
}  // namespace flash_test
