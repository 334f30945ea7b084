// Whole processor firmware and option updates against the simulated instrument on the
// virtual clock: status lines, results, and what the instrument holds afterwards.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dsp/dsp_programming.h"
#include "dsp/option_update.h"
#include "flash/processor_update.h"
#include "flash/programming_link.h"
#include "flash/result_codes.h"
#include "run/run_state.h"
#include "sim/sample_files.h"
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

namespace flash_test {
namespace {

// A job written by hand: one AM29F040 bank, one erase block, the given files section.
void writeJob(SimUpdate& run, const string& loader, const string& transfer, const string& files) {
  run.dir.write("ROMWRITE.CNF",
                "[HOST]\nUART = COM13\nBAUD = 115200\nFLASHUPSTRING = NO\n"
                "URLADER = " +
                    loader + "\nTRANSFER = " + transfer +
                    "\nCONTINUE = NO\n[TARGET]\nPROCESSOR = I80X86\n"
                    "ARCHITECTURE = B16\nMEMORY = 0x50000,0x100000,AM29F040\n"
                    "ERASE  = 0x50000,0x20000\n[FILES]\n" +
                    files);
}

std::vector<uint8_t> asBytes(const string& text) {
  return {text.begin(), text.end()};
}

// The shipped sample set on a board without memory extension: an I28F020 bank at 0x80000.
TEST(UpdateSequences, SampleFilesOnABoardWithoutMemoryExtension) {
  SimUpdate run("hw=0");
  ASSERT_EQ(sim::writeSampleUpdateFiles(run.dir.path()), 0);
  run.writeAutomaticJob(0, false);
  EXPECT_EQ(updateProcessorFirmware("romwrite.cnf", run.port, 1), kResultOk);
  EXPECT_EQ(statusLines(), kProcessorUpdateLines);
  const std::vector<uint8_t> image = fileBytes(run.dir.file("NO_MPEG.bin"));
  EXPECT_EQ(run.instrument->flashBytes(0x80000, static_cast<uint32_t>(image.size())), image);
}

TEST(UpdateSequences, ProcessorUpdateWithoutBootThenOptionUpdateOnTheRunningLink) {
  SimUpdate run("hw=0x11000");
  run.writeUpdateFiles();
  run.writeAutomaticJob(0x11000, true);
  ASSERT_EQ(updateProcessorFirmware("romwrite.cnf", run.port, 0), kResultOk);
  EXPECT_EQ(run.instrument->counters.boots, 0u);
  EXPECT_EQ(run.instrument->counters.cmosRamDeletes, 1u);

  EXPECT_EQ(updateOption("romwrite.cnf", run.port, kOptionB20, 0), kResultOk);
  Lines expected = kProcessorUpdateLines;
  expected.insert(expected.end(), {"OK    Erasing Flash ROMs on DSP module...",
                                   "OK    Programming Flash ROMs on DSP module...",
                                   "OK    Waiting for checksum from DSP module...",
                                   "Update of DSP option successfully completed"});
  EXPECT_EQ(statusLines(), expected);
  EXPECT_EQ(run.instrument->dspImage(), words(fileBytes(run.dir.file("ATSC.BIN"))));
  EXPECT_EQ(run.instrument->counters.cmosRamDeletes, 2u);
  EXPECT_EQ(run.instrument->counters.boots, 1u);
}

TEST(UpdateSequences, OptionUpdateWithPreparation) {
  SimUpdate run("hw=0x11000");
  run.writeUpdateFiles();
  run.writeAutomaticJob(0x11000, true);
  ASSERT_EQ(run.instrument->banks.size(), 1u);
  const std::vector<uint8_t> boardFlash = run.instrument->banks[0].bytes;
  EXPECT_EQ(updateOption("romwrite.cnf", run.port, kOptionB20, 1), kResultOk);
  EXPECT_EQ(statusLines(), (Lines{
                               "OK    Check ZEL in update mode",
                               "OK    Download bootloader",
                               "OK    Download transfer program",
                               "OK    Erasing Flash ROMs on DSP module...",
                               "OK    Programming Flash ROMs on DSP module...",
                               "OK    Waiting for checksum from DSP module...",
                               "Update of DSP option successfully completed",
                           }));
  EXPECT_EQ(run.instrument->dspImage(), words(fileBytes(run.dir.file("ATSC.BIN"))));
  EXPECT_EQ(run.instrument->counters.boots, 1u);
  EXPECT_EQ(run.port.m_readTimeout, 10000);
  // The instrument's own flash is left alone.
  EXPECT_EQ(run.instrument->banks[0].bytes, boardFlash);
}

TEST(UpdateSequences, ResidentTransferProgramNeedsNoDownloads) {
  SimUpdate run("resident=yes");
  run.dir.write("SMALL.BIN", patternBytes(0x1234, 7));
  writeJob(run, "--NONE--", "--NONE--, 0, 0", "PROGRAM = 0x50000, small.bin\n");
  EXPECT_EQ(updateProcessorFirmware("romwrite.cnf", run.port, 1), kResultOk);
  EXPECT_EQ(statusLines(), (Lines{
                               "OK    Check ZEL in update mode",
                               "No download of bootloader",
                               "No download of transfer program",
                               "Update processor firmware",
                               "OK    Delete flash",
                               "OK    Download processor firmware",
                               "OK    Get checksum from target",
                               "OK    Update processor firmware completed",
                           }));
  EXPECT_EQ(run.port.m_baudRate, 19200);  // every packet at the boot ROM's speed
  EXPECT_EQ(run.instrument->flashBytes(0x50000, 0x1234), fileBytes(run.dir.file("SMALL.BIN")));
  EXPECT_EQ(run.instrument->counters.loaderDownloads, 0u);
}

// A word-addressed target: the loader carries its divisor 8 bytes before its end, and
// every address counts 32-bit words. The job is for another board than the simulated one,
// so its bank stands where the job names it.
TEST(UpdateSequences, WordAddressedProcessorOnAThirtyTwoBitBus) {
  SimUpdate run("flash=any");
  run.dir.write("TMS.URL", patternBytes(128, 11));
  run.dir.write("TMS.TRA", patternBytes(0x1000, 12));
  run.dir.write("FW.BIN", patternBytes(0x3000, 13));
  run.dir.write("ROMWRITE.CNF",
                "[HOST]\nUART = COM13\nBAUD = 57600\nFLASHUPSTRING = NO\nURLADER = tms.url\n"
                "TRANSFER = tms.tra, 0x100, 0x100\nCONTINUE = NO\n[TARGET]\n"
                "PROCESSOR = TMS320C30\nARCHITECTURE = B32\n"
                "MEMORY = 0x400000, 0x80000, AM29F010\nERASE = 0x404000, 0x20000\n[FILES]\n"
                "PROGRAM = 0x404000, fw.bin\nPROGRAM = 0x404C00, fw.bin\n");
  EXPECT_EQ(updateProcessorFirmware("romwrite.cnf", run.port, 0), kResultOk);
  EXPECT_EQ(run.port.m_baudRate, 57600);
  const std::vector<uint8_t> image = fileBytes(run.dir.file("FW.BIN"));
  EXPECT_EQ(run.instrument->flashBytes(0x404000, 0x3000), image);
  EXPECT_EQ(run.instrument->flashBytes(0x404C00, 0x3000), image);
}

TEST(UpdateSequences, UploadsSaveTheFlashBeforeItIsErased) {
  SimUpdate run("boot-time=1");
  run.writeUpdateFiles();
  run.writeAutomaticJob(0x10000, false);
  ASSERT_EQ(updateProcessorFirmware("romwrite.cnf", run.port, 1), kResultOk);
  platform::sleepMs(3000);  // the instrument restarts
  run.switchToUpdateMode();
  clearStatusList();

  // Save 0x300 bytes, erase their block, program them back and a new file beside them.
  run.dir.write("SMALL.BIN", patternBytes(0x800, 9));
  writeJob(run, "ROMWRITE.URL", "ROMWRITE.TRA, 0x100, 0x100",
           "PROGRAM = 0x50000, SAVE.BIN\nPROGRAM = 0x60000, SMALL.BIN\n"
           "UPLOAD = 0x50000, 0x300, SAVE.BIN\n");
  EXPECT_EQ(updateProcessorFirmware("romwrite.cnf", run.port, 0), kResultOk);
  const string image = run.dir.read("NO_ATSC.bin");
  EXPECT_EQ(run.dir.read("SAVE.BIN"), image.substr(0, 0x300));
  EXPECT_EQ(run.instrument->flashBytes(0x50000, 0x300), asBytes(image.substr(0, 0x300)));
  EXPECT_EQ(run.instrument->flashBytes(0x60000, 0x800), fileBytes(run.dir.file("SMALL.BIN")));
  EXPECT_EQ(statusLines(), (Lines{
                               "OK    Check ZEL in update mode",
                               "OK    Download bootloader",
                               "OK    Download transfer program",
                               "Update processor firmware",
                               "OK    Delete flash",
                               "OK    Download processor firmware",
                               "OK    Get checksum from target",
                               "OK    Download processor firmware",
                               "OK    Get checksum from target",
                               "OK    Update processor firmware completed",
                           }));
}

struct FaultRow {
  const char* options;
  int32_t expected;
  const char* lastLine;
  uint32_t maxSeconds;  // simulated time the run may take
};

TEST(UpdateSequences, ProcessorUpdateFaultsEndWithTheirLineAndCode) {
  const FaultRow rows[] = {
      {"fault=loader-reject", kResultLoaderRejected, "ERROR Download bootloader (202)", 5},
      // No status letter within the 5 s read time-out.
      {"fault=silent", kResultLoaderNoStatus, "ERROR Download bootloader (201)", 10},
      {"fault=erase-fail", kResultEraseFailedAt, "ERROR Delete flash (414)", 30},
      {"fault=program-fail", kResultProgramFailedAt, "ERROR Download processor firmware (413)", 30},
      {"fault=checksum-off", kResultChecksumMismatch, "ERROR - test checksum: update aborted", 150},
      // The fourth error answer of one chunk is the end.
      {"fault=nack=4", kResultTargetErrorF4, "ERROR Download processor firmware (904)", 30},
      // The line goes dead in the middle of the image: five tries without acknowledgement.
      {"fault=unplug=300000", 0x5101135 + kProgramSendFailed,
       "ERROR Download processor firmware (5111135)", 100},
  };
  for (const FaultRow& row : rows) {
    SCOPED_TRACE(row.options);
    SimUpdate run(row.options);
    run.writeUpdateFiles();
    run.writeAutomaticJob(0x10000, false);
    const uint32_t start = run.nowMs();
    EXPECT_EQ(updateProcessorFirmware("romwrite.cnf", run.port, 1), row.expected);
    ASSERT_GT(statusLineCount(), 0);
    EXPECT_EQ(statusLines().back(), row.lastLine);
    EXPECT_LE(run.nowMs() - start, row.maxSeconds * 1000);
    EXPECT_EQ(run.instrument->counters.boots, 0u);
  }
}

TEST(UpdateSequences, NotReadyTargetIsTestedSevenTimes) {
  SimUpdate run("fault=no-ready");
  run.writeUpdateFiles();
  run.writeAutomaticJob(0x10000, false);
  const uint32_t start = run.nowMs();
  EXPECT_EQ(updateProcessorFirmware("romwrite.cnf", run.port, 1), kResultTargetNotReady);
  EXPECT_EQ(statusLines(), Lines{"ERROR Check ZEL in update mode (205)"});
  const uint32_t elapsed = run.nowMs() - start;
  EXPECT_GE(elapsed, 7u * 500);
  EXPECT_LT(elapsed, 7u * 500 + 500);
}

TEST(UpdateSequences, ErrorAnswersToProgramDataAreRetried) {
  SimUpdate run("fault=nack=3");
  run.writeUpdateFiles();
  run.writeAutomaticJob(0x10000, false);
  EXPECT_EQ(updateProcessorFirmware("romwrite.cnf", run.port, 1), kResultOk);
  EXPECT_EQ(packetErrors, 1u);
  EXPECT_EQ(packetRetries, 3u);
  EXPECT_EQ(run.instrument->flashBytes(0x50000, kImageBytes),
            fileBytes(run.dir.file("NO_ATSC.bin")));
}

TEST(UpdateSequences, ConfigurationProblemsStopBeforeTheLine) {
  SimUpdate run("");
  EXPECT_EQ(updateProcessorFirmware("romwrite.cnf", run.port, 1), -2);
  EXPECT_EQ(statusLines(), Lines{"ERROR - check ROMWRITE.CNF:  update aborted"});
  clearStatusList();
  writeJob(run, "ROMWRITE.URL", "ROMWRITE.TRA, 0x100, 0x100", "");
  EXPECT_EQ(updateProcessorFirmware("romwrite.cnf", run.port, 1), 1537);
  ASSERT_EQ(statusLineCount(), 2);
  EXPECT_EQ(statusLines()[0], "ERROR - check GENERAL:  update aborted");
  EXPECT_EQ(run.instrument->counters.loaderDownloads, 0u);
}

TEST(UpdateSequences, OptionUpdateFaults) {
  struct Row {
    const char* options;
    int32_t optionKind;
    int32_t prepare;
    int32_t expected;
    Lines tail;  // the last lines
    uint32_t boots;
  } rows[] = {
      {"hw=0x11000,fault=dsp-checksum-off",
       kOptionB20,
       1,
       kResultDspChecksumMismatch,
       {"OK    Waiting for checksum from DSP module...", "ERROR - wrong checksum"},
       1},
      {"hw=0x11000,fault=dsp-erase-fail",
       kOptionB20,
       1,
       kResultDspFailed,
       {"ERROR Erasing Flash ROMs on DSP module...",
        "ERROR - Program algorithm could not be sent to DSP module!"},
       1},
      // Nothing reaches the module of a target that does not signal update mode.
      {"hw=0x11000,fault=no-ready",
       kOptionB20,
       1,
       kResultTargetNotReady,
       {"ERROR Check ZEL in update mode (205)"},
       0},
      {"hw=0x11000,resident=yes",
       kOptionNone,
       0,
       kResultDspFailed,
       {"ERROR -  no DSP file chosen"},
       1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.options);
    SimUpdate run(row.options);
    run.writeUpdateFiles();
    run.writeAutomaticJob(0x11000, true);
    if (row.prepare == 0) {
      run.port.m_parity = kLinkParityEven;
      openProgrammingLink(kLinkStartBaud, kOptionLinkTimeoutMs, run.port);
    }
    EXPECT_EQ(updateOption("romwrite.cnf", run.port, row.optionKind, row.prepare), row.expected);
    const Lines& lines = statusLines();
    ASSERT_GE(lines.size(), row.tail.size());
    EXPECT_EQ(Lines(lines.end() - static_cast<long>(row.tail.size()), lines.end()), row.tail);
    // The echo of the boot answer's last byte is still on the line.
    platform::sleepMs(10);
    run.instrument->advance();
    EXPECT_EQ(run.instrument->counters.boots, row.boots);
    EXPECT_EQ(run.instrument->counters.cmosRamDeletes, 0u);
  }
}

}  // namespace
}  // namespace flash_test
