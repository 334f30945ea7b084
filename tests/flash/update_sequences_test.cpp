// Whole processor firmware and option updates against the simulated instrument on the
// virtual clock: status lines, results, and what the instrument holds afterwards.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/run_state.h"
#include "dsp/dsp_programming.h"
#include "flash/option_update.h"
#include "flash/processor_update.h"
#include "flash/programming_link.h"
#include "flash/result_codes.h"
#include "tests/flash/sim_update.h"

namespace flash_test {
namespace {

using std::string;
using Lines = std::vector<string>;

const Lines kProcessorUpdateLines = {
    "OK    Check ZEL in update mode",
    "OK    Download bootloader",
    "OK    Download transfer program",
    "Update processor firmware",
    "OK    Delete flash",
    "OK    Download processor firmware",
    "OK    Get checksum from target",
    "OK    Update processor firmware completed",
};

std::vector<uint32_t> words(const std::vector<uint8_t>& bytes) {
  std::vector<uint32_t> result;
  for (size_t i = 0; i + 4 <= bytes.size(); i += 4)
    result.push_back(bytes[i] | (bytes[i + 1] << 8) | (bytes[i + 2] << 16) |
                     (static_cast<uint32_t>(bytes[i + 3]) << 24));
  return result;
}

TEST(UpdateSequences, ProcessorUpdateOfAMemoryExtensionBoard) {
  SimUpdate run("hw=0x10000");
  run.writeUpdateFiles();
  run.writeAutomaticJob(0x10000, false);
  EXPECT_EQ(updateProcessorFirmware("romwrite.cnf", run.port, 1), kResultOk);
  EXPECT_EQ(statusLines(), kProcessorUpdateLines);
  EXPECT_EQ(run.instrument->flashBytes(0x50000, kImageBytes),
            fileBytes(run.dir.file("NO_ATSC.bin")));
  EXPECT_EQ(run.instrument->counters.cmosRamDeletes, 1u);
  EXPECT_EQ(run.instrument->counters.boots, 1u);
  EXPECT_EQ(run.instrument->counters.echoErrors, 0u);
  EXPECT_EQ(packetCount, (kImageBytes + 239) / 240);
  EXPECT_EQ(packetErrors, 0u);
  EXPECT_EQ(run.port.m_baudRate, 115200);
}

}  // namespace
}  // namespace flash_test
