// The service record of a run: every run appends one, whatever its outcome, with what was
// known filled in, and keeps it before its last box.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "platform/host_files.h"
#include "platform/sha256.h"
#include "tests/cli/run_command_test_program.h"

namespace cli_test {
namespace {

// The record is kept before the last box: a program killed while that box waits for Enter
// on its terminal leaves its record in the history, with the run's outcome.
TEST(RunCommandTest, killed_at_the_last_box_the_run_has_kept_its_record) {
  const struct {
    const char* name;
    const char* port;
    const char* box;
    const char* outcome;
  } rows[] = {
      {"success", "sim:hw=0x11000", "[info] Update successfully completed.", "success"},
      {"failure", "sim:hw=0x11000,fault=erase-fail", "[stop] Update processor firmware failed,",
       "failed"},
      {"refusal", "sim:version=03.07", "[stop] Software version lower than 3.08.", "refused"},
  };
  for (const auto& row : rows) {
    TempDir dir(false);
    writeUpdateSet(dir);
    TerminalProgram run(dir, {"run", "--port", std::string(row.port) + ",speed=virtual"});
    ASSERT_TRUE(run.waitFor(row.box)) << row.name << "\n" << run.output();
    ASSERT_TRUE(run.waitFor("Press Enter ")) << row.name << "\n" << run.output();
    ::kill(run.pid(), SIGKILL);
    EXPECT_EQ(run.finish(), -1) << row.name;
    const std::vector<StoredRecord> records = recordsOf(dir);
    ASSERT_EQ(records.size(), 1u) << row.name;
    EXPECT_EQ(records[0].record.outcome, row.outcome) << row.name;
    EXPECT_EQ(records[0].record.frontEnd, "console") << row.name;
    ASSERT_FALSE(records[0].record.steps.empty()) << row.name;
  }
}

// Every run leaves one record, whatever its outcome, with what was known filled in.
TEST(RunCommandTest, each_run_appends_one_record_of_what_it_did) {
  struct Row {
    const char* name;
    std::vector<std::string> args;
    int status;
    const char* outcome;
    const char* versionBefore;  // nullptr: not identified
    const char* versionAfter;
    int32_t result;
    const char* outHas;
    size_t files;
    std::vector<std::string> missing;  // files taken out of the update set
  };
  const Row rows[] = {
      {"success",
       {"run", "--assume-yes", "--port",
        "sim:hw=0x11000,version=04.40,version-after=04.60,speed=virtual"},
       0,
       "success",
       "04.40",
       "04.60",
       0,
       "record: ",
       4,
       {}},
      {"erase fault",
       {"run", "--assume-yes", "--port", "sim:hw=0x11000,fault=erase-fail,speed=virtual"},
       1,
       "failed",
       "04.41",
       "",
       0x414,
       "\n  414: the target failed to erase flash",
       4,
       {}},
      {"no memory extension",
       {"run", "--assume-yes", "--port", "sim:hw=0x1000,speed=virtual"},
       1,
       "refused",
       "04.41",
       "",
       0,
       "record: ",
       0,
       {}},
      {"refused selections",
       {"run", "--manual", "--option-update", "yes", "--port", "sim:"},
       2,
       "refused",
       nullptr,
       "",
       0,
       "",
       0,
       {}},
      {"dry run",
       {"run", "--dry-run", "--port", "sim:hw=0x11000,speed=virtual"},
       0,
       "success",
       "04.41",
       "",
       0,
       "\n  estimate  ",
       4,
       {}},
      // Each failure records the code of its first failing step: where the step's line
      // has none, the step's own (a silent instrument, the DSP steps), and never the
      // code of a retry that failed otherwise (the checksum before the loader).
      {"silent instrument",
       {"run", "--assume-yes", "--port", "sim:fault=silent"},
       1,
       "failed",
       nullptr,
       "",
       0x701,
       "\n  701: the instrument did not answer",
       0,
       {}},
      {"backup of a silent instrument",
       {"backup", "--port", "sim:fault=silent", "saved"},
       1,
       "failed",
       nullptr,
       "",
       0x701,
       "\n  701: the instrument did not answer",
       0,
       {}},
      {"checksum that differs",
       {"run", "--assume-yes", "--port", "sim:hw=0x11000,fault=checksum-off"},
       1,
       "failed",
       "04.41",
       "",
       0x416,
       "\n  416: the target's checksum",
       4,
       {}},
      {"DSP erase fails",
       {"run", "--assume-yes", "--port", "sim:hw=0x11000,fault=dsp-erase-fail"},
       1,
       "failed",
       "04.41",
       "",
       1,
       "\n  1: DSP option programming failed",
       4,
       {}},
      {"DSP checksum differs",
       {"run", "--assume-yes", "--port", "sim:hw=0x11000,fault=dsp-checksum-off"},
       1,
       "failed",
       "04.41",
       "",
       2,
       "\n  2: the DSP module's checksum differs",
       4,
       {}},
      // A refusal by the pre-flight check names the missing file, and lists what it checked.
      {"missing image",
       {"run", "--assume-yes", "--port", "sim:hw=0x11000"},
       1,
       "refused",
       "04.41",
       "",
       0x601,
       "\n  601: the programming configuration file is inconsistent",
       4,
       {"NO_ATSC.bin", "NO_DVBT.bin"}},
  };
  for (const Row& row : rows) {
    TempDir dir(false);
    writeUpdateSet(dir, row.missing);
    const Result result = runProgram(dir, row.args);
    EXPECT_EQ(result.status, row.status) << row.name << "\n" << result.out << result.err;
    EXPECT_NE(result.out.find(row.outHas), std::string::npos) << row.name << "\n" << result.out;
    const std::vector<StoredRecord> records = recordsOf(dir);
    ASSERT_EQ(records.size(), 1u) << row.name;
    const ServiceRecord& record = records[0].record;
    EXPECT_EQ(record.outcome, row.outcome) << row.name;
    EXPECT_EQ(record.frontEnd, "console") << row.name;
    EXPECT_EQ(record.dryRun, std::string(row.name) == "dry run") << row.name;
    EXPECT_EQ(record.result.value_or(-1), row.result) << row.name;
    EXPECT_EQ(record.instrument.has_value(), row.versionBefore != nullptr) << row.name;
    if (record.instrument) {
      EXPECT_EQ(record.instrument->version, row.versionBefore) << row.name;
      EXPECT_EQ(record.instrument->model, "ZEL") << row.name;
      EXPECT_EQ(record.instrument->serial, "57") << row.name;
    }
    EXPECT_EQ(record.versionAfter, row.versionAfter) << row.name;
    ASSERT_EQ(record.files.size(), row.files) << row.name;
    for (const ServiceRecordFile& file : record.files) {
      if (!file.bytes) {
        // A file that is not there has no size: the record's meaning names it.
        EXPECT_EQ(file.name, "NO_ATSC.BIN") << row.name;
        EXPECT_NE(records[0].line.find("\"meaning\":\"Programfile NO_ATSC.BIN not accessible\""),
                  std::string::npos)
            << records[0].line;
        continue;
      }
      std::string digest;
      ASSERT_TRUE(platform::sha256OfFile(platform::resolveHostFile(dir.file(file.name)), digest));
      EXPECT_EQ(file.sha256, digest) << row.name << " " << file.name;
    }
    if (row.versionBefore != nullptr) {
      EXPECT_EQ(record.steps.front(), "OK    Autoconnect with device") << row.name;
      EXPECT_EQ(records[0].line.find("\"meaning\":") != std::string::npos, row.result != 0)
          << records[0].line;
    }
  }
  // A dry run leaves the configuration file of the last run as it was.
  TempDir dir(false);
  writeUpdateSet(dir);
  dir.write("ROMWRITE.CNF", "; the last run's job\n");
  EXPECT_EQ(runProgram(dir, {"run", "--dry-run", "--port", "sim:hw=0x11000,speed=virtual"}).status,
            0);
  EXPECT_EQ(dir.read("ROMWRITE.CNF"), "; the last run's job\n");
  // ... also where TMPDIR names a folder that is not there.
  ::setenv("TMPDIR", dir.file("no-such-folder").c_str(), 1);
  const Result planned = runProgram(dir, {"run", "--dry-run", "--port", "sim:hw=0x11000"});
  ::unsetenv("TMPDIR");
  EXPECT_EQ(planned.status, 0) << planned.out;
  EXPECT_NE(planned.out.find("\n  estimate  "), std::string::npos) << planned.out;
  EXPECT_EQ(dir.read("ROMWRITE.CNF"), "; the last run's job\n");
  // A history that cannot take the record is refused before anything starts.
  const Result full = runProgram(dir, {"--history", "/dev/full", "run", "--assume-yes", "--port",
                                       "sim:hw=0x11000,speed=virtual"});
  EXPECT_EQ(full.status, 2) << full.err;
  EXPECT_NE(full.err.find("--history: /dev/full is not a regular file"), std::string::npos)
      << full.err;
}

}  // namespace
}  // namespace cli_test
