#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <sstream>
#include <string>
#include <vector>

#include "flash/config/config_reader.h"
#include "flash/config/config_writer.h"
#include "tests/support/temp_dir.h"

namespace {

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The lines that the generators choose: 3 (UART), 7 (TRANSFER), 8 (CONTINUE), 12, 13, 15.
struct Choice {
  std::string uart, transfer, continueLine, memory, erase, program;
};

Choice choiceOf(const std::vector<std::string>& lines) {
  if (lines.size() != 16) return {};
  return {lines[2], lines[6], lines[7], lines[11], lines[12], lines[14]};
}

constexpr const char* kAutoTransfer = "TRANSFER = ROMWRITE.TRA, 0x100, 0x100";
constexpr const char* kManualTransfer = "TRANSFER = ROMWRITE.TRA, 0x20000100, 0x20000100";
constexpr const char* kExtMemory = "MEMORY = 0x50000,0x100000,AM29F040";
constexpr const char* kExtErase = "ERASE  = 0x50000,0xA0000";
constexpr const char* kPlainMemory = "MEMORY = 0x80000,0x80000,I28F020";
constexpr const char* kPlainErase = "ERASE  = 0x80000,0x80000";

TEST(WriteAutomaticConfiguration, line_choices) {
  struct Row {
    uint32_t hw;
    bool optionUpdate;
    int port;
    const char* presentImage;  // image file in the folder, or nullptr
    const char* continueLine;
    bool extension;
    const char* image;
  };
  const Row rows[] = {
      {0, false, 2, nullptr, "CONTINUE = NO", false, "NO_MPEG.bin"},
      {0x40, true, 1, nullptr, "CONTINUE = NO", false, "NO_NICAM.bin"},
      {0x1400, true, 1, nullptr, "CONTINUE = YES", false, "NO_MPEG.bin"},  // no extension
      {0x10040, false, 1, "NO_ATSC.bin", "CONTINUE = NO", true, "NO_ATSC.bin"},
      {0x10040, false, 1, nullptr, "CONTINUE = NO", true, "NO_DVBT.bin"},
      {0x20000, false, 1, "no_atsc.BIN", "CONTINUE = NO", true, "NO_ATSC.bin"},  // any case
      {0x30420, true, 1, nullptr, "CONTINUE = YES", true, "QAM_B1.bin"},         // B1 wins
      {0x11000, true, 1, "NO_DVBT.bin", "CONTINUE = YES", true, "NO_DVBT.bin"},
      {0x11000, false, 1, nullptr, "CONTINUE = NO", true, "NO_ATSC.bin"},
      {0x10400, true, 15, nullptr, "CONTINUE = YES", true, "NO_DVBT.bin"},
  };
  for (const Row& row : rows) {
    testing_support::TempDir dir;
    if (row.presentImage) dir.write(row.presentImage, "x");
    ASSERT_EQ(writeAutomaticConfiguration(row.hw, row.optionUpdate, row.port), kConfigWritten);
    const Choice c = choiceOf(linesOf(dir.read("ROMWRITE.CNF")));
    const std::string where = std::to_string(row.hw);
    EXPECT_EQ(c.uart, "UART = COM" + std::to_string(row.port)) << where;
    EXPECT_EQ(c.transfer, kAutoTransfer) << where;
    EXPECT_EQ(c.continueLine, row.continueLine) << where;
    EXPECT_EQ(c.memory, row.extension ? kExtMemory : kPlainMemory) << where;
    EXPECT_EQ(c.erase, row.extension ? kExtErase : kPlainErase) << where;
    EXPECT_EQ(c.program,
              std::string("PROGRAM = ") + (row.extension ? "0x50000, " : "0x80000, ") + row.image)
        << where;
  }
}

TEST(WriteManualConfiguration, line_choices) {
  struct Row {
    ManualSelections s;  // memoryExtension, mpegMode, B1, B20, B10, optionUpdate
    const char* continueLine;
    const char* image;
  };
  const Row rows[] = {
      {{1, 0, 0, 0, 0, 0}, "CONTINUE = NO", "NO_ATSC.bin"},
      {{1, 0, 1, 0, 1, 1}, "CONTINUE = NO", "QAM_B1.bin"},  // B1 never continues
      {{1, 0, 0, 0, 1, 1}, "CONTINUE = YES", "NO_ATSC.bin"},
      {{1, 0, 0, 1, 0, 1}, "CONTINUE = YES", "NO_DVBT.bin"},
      {{1, 0, 0, 1, 0, 2}, "CONTINUE = YES", "NO_DVBT.bin"},  // any non-zero update counts
      {{0, 0, 0, 0, 0, 0}, "CONTINUE = NO", "NO_NICA.bin"},
      {{0, 1, 1, 0, 0, 1}, "CONTINUE = NO", "NO_MPEG.bin"},
  };
  for (const Row& row : rows) {
    testing_support::TempDir dir;
    dir.write("NO_ATSC.bin", "x");  // the manual generator never looks
    ASSERT_EQ(writeManualConfiguration(4, row.s), kConfigWritten);
    const Choice c = choiceOf(linesOf(dir.read("ROMWRITE.CNF")));
    const bool extension = row.s.memoryExtension == 1;
    const std::string where = row.image;
    EXPECT_EQ(c.uart, "UART = COM4");
    EXPECT_EQ(c.transfer, kManualTransfer);
    EXPECT_EQ(c.continueLine, row.continueLine) << where;
    EXPECT_EQ(c.memory, extension ? kExtMemory : kPlainMemory) << where;
    EXPECT_EQ(c.erase, extension ? kExtErase : kPlainErase) << where;
    EXPECT_EQ(c.program,
              std::string("PROGRAM = ") + (extension ? "0x50000, " : "0x80000, ") + row.image);
  }
}

TEST(Generators, replace_a_file_of_any_case_and_report_failure_to_create) {
  testing_support::TempDir dir;
  dir.write("romwrite.cnf", "old");
  ASSERT_EQ(writeManualConfiguration(1, ManualSelections{}), kConfigWritten);
  EXPECT_EQ(linesOf(dir.read("romwrite.cnf")).size(), 16u);
  struct stat st;
  EXPECT_NE(::stat(dir.file("ROMWRITE.CNF").c_str(), &st), 0) << "a second file beside it";

  testing_support::TempDir blocked;
  ASSERT_EQ(::mkdir(blocked.file("ROMWRITE.CNF").c_str(), 0755), 0);  // holds even for root
  EXPECT_EQ(writeAutomaticConfiguration(0, false, 1), kConfigNotCreated);
  EXPECT_EQ(writeManualConfiguration(1, ManualSelections{}), kConfigNotCreated);
}

// A write that fails half way (the disk full: here a file size limit) leaves the file of the
// last run as it was, and reports the failure.
TEST(Generators, a_write_that_fails_half_way_leaves_the_old_file) {
  testing_support::TempDir dir;
  const std::string old = "; ROMWRITE.CNF of the last run\n";
  dir.write("ROMWRITE.CNF", old);
  const pid_t child = ::fork();
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{100, 100};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ::_exit(writeAutomaticConfiguration(0x10000, false, 1) == kConfigNotCreated ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the failure is reported";
  EXPECT_EQ(dir.read("ROMWRITE.CNF"), old);
  EXPECT_EQ(linesOf(dir.read("ROMWRITE.CNF")).size(), 1u);
}

TEST(Generators, reader_accepts_every_generated_file) {
  testing_support::TempDir dir;
  int files = 0;
  auto readBack = [&](const std::string& what) {
    ProgrammingJob job;
    EXPECT_EQ(readProgrammingConfig(job, kConfigReadName), kConfigReadOk) << what;
    EXPECT_EQ(job.baud, 115200u) << what;
    EXPECT_EQ(job.architecture, B16) << what;
    EXPECT_NE(job.programs[0].fileName[0], '\0') << what;
    ++files;
  };
  for (bool atsc : {false, true}) {
    if (atsc) dir.write("NO_ATSC.bin", "x");
    for (uint32_t hw = 0; hw < 0x40000; hw += 0x20) {
      if ((hw & ~0x31460u) != 0) continue;  // only the bits that choose something
      for (bool update : {false, true}) {
        ASSERT_EQ(writeAutomaticConfiguration(hw, update, 15), kConfigWritten);
        readBack("hw " + std::to_string(hw));
      }
    }
  }
  for (int bits = 0; bits < 64; ++bits) {
    const ManualSelections s{bits & 1,        (bits >> 1) & 1, (bits >> 2) & 1,
                             (bits >> 3) & 1, (bits >> 4) & 1, (bits >> 5) & 1};
    ASSERT_EQ(writeManualConfiguration(999999, s), kConfigWritten);
    readBack("manual " + std::to_string(bits));
  }
  EXPECT_EQ(files, 2 * 2 * 64 + 64);
}

}  // namespace
