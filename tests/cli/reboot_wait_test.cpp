// The wait for the instrument's reboot in a console run, in this process, against the
// simulated instrument on the virtual clock: a cancel (Ctrl-C, SIGTERM, SIGHUP) ends the run
// there within half a second of program time, an instrument that never comes back fails the
// run with its own code, and a second request to end the program still leaves the record.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/service_record.h"
#include "cli/console_run.h"
#include "flash/result_codes.h"
#include "flash/result_meaning.h"
#include "frontends/console/console_host.h"
#include "platform/clock.h"
#include "platform/profile.h"
#include "run/run_state.h"
#include "serial/com_ports.h"
#include "sim/registry.h"
#include "sim/sample_files.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::TempDir;

constexpr const char* kWaitLine = "Wait until ZEL is booted";
// Firmware 4.40 boots between the processor and the option (B20) update; it takes far longer
// than the wait's 150 s to come back.
constexpr const char* kInstrument = "sim:hw=0x11000,version=04.40,boot-time=1000,speed=virtual";

// Does `action` once, when the reboot wait begins, and notes the program time of that and
// of the wait's end (the line marked).
class AtRebootWait : public StatusListObserver {
 public:
  explicit AtRebootWait(std::function<void()> action) : m_action(std::move(action)) {
    addStatusListObserver(this);
  }
  ~AtRebootWait() override { removeStatusListObserver(this); }
  void statusLineAdded(int, const std::string& text) override {
    if (text == kWaitLine) {
      beganMicros = platform::clock().nowMicros();
      if (m_action) m_action();
    } else if (text.rfind(std::string("ERROR ") + kWaitLine, 0) == 0) {
      endedMicros = platform::clock().nowMicros();
    }
  }
  void statusLineDeleted(int) override {}
  void statusListCleared() override {}

  uint64_t beganMicros = 0;
  uint64_t endedMicros = 0;

 private:
  std::function<void()> m_action;
};

struct ConsoleOutcome {
  int status = -1;
  std::vector<std::string> transcript;
};

ConsoleOutcome runAutomatic(const TempDir& dir) {
  ConsoleRunRequest request;
  request.port = kInstrument;
  request.assumeYes = true;
  request.transcriptFile = dir.file("t.txt");
  CommonOptions common;
  common.settingsFile = dir.file("settings.ini");
  common.historyFile = dir.file("history.jsonl");
  testing::internal::CaptureStdout();
  ConsoleOutcome run;
  run.status = runInConsole(request, common);
  testing::internal::GetCapturedStdout();
  std::string line;
  for (char c : dir.read("t.txt")) {
    if (c != '\n') {
      line += c;
      continue;
    }
    run.transcript.push_back(line);
    line.clear();
  }
  return run;
}

std::vector<StoredRecord> recordsOf(const TempDir& dir) {
  std::vector<StoredRecord> records;
  std::string why;
  EXPECT_TRUE(readHistory(dir.file("history.jsonl"), {}, records, &why)) << why;
  return records;
}

bool has(const std::vector<std::string>& lines, const std::string& text) {
  for (const std::string& line : lines) {
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

void cleanUp() {
  sim::uninstallClock();
  sim::resetInstruments();
  serial::resetComPortMapping();
  platform::setSettingsFileOverride("");
}

TEST(RebootWait, cancel_ends_the_run_there_and_a_silent_instrument_fails_it_with_its_code) {
  struct Row {
    const char* name;
    std::function<void()> action;  // at the start of the wait; empty: nothing
    int32_t code;                  // of the wait's line and the record
    const char* outcome;
  };
  const Row rows[] = {
      {"Ctrl-C", [] { ui::ConsoleHost::requestInterrupt(); }, kResultCancelled, "cancelled"},
      {"SIGTERM", [] { ::raise(SIGTERM); }, kResultCancelled, "cancelled"},
      {"SIGHUP", [] { ::raise(SIGHUP); }, kResultCancelled, "cancelled"},
      {"no answer", {}, kResultNoAnswerAfterBoot, "failed"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    ASSERT_EQ(sim::writeSampleUpdateFiles(dir.path()), 0);
    AtRebootWait wait(row.action);
    const ConsoleOutcome run = runAutomatic(dir);
    cleanUp();

    EXPECT_EQ(run.status, 1);
    const std::string marked =
        std::string("+ ERROR ") + kWaitLine + " (" + resultHex(row.code) + ")";
    EXPECT_TRUE(has(run.transcript, marked)) << marked;
    // The processor firmware is in; the option update is not begun.
    EXPECT_TRUE(has(run.transcript, "+ OK    Update processor firmware completed"));
    EXPECT_FALSE(has(run.transcript, "Update Option"));
    EXPECT_EQ(has(run.transcript, "! stop Update cancelled by the user."),
              row.code == kResultCancelled);
    if (row.code == kResultCancelled) {
      EXPECT_LE(wait.endedMicros - wait.beganMicros, 500'000u);
    } else {
      EXPECT_GE(wait.endedMicros - wait.beganMicros, 150'000'000u);
    }
    const std::vector<StoredRecord> records = recordsOf(dir);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].record.outcome, row.outcome);
    EXPECT_EQ(records[0].record.result.value_or(0), row.code);
    // `zelupdate explain` knows the code.
    EXPECT_NE(explainResult(row.code), "");
  }
  // The program's own handlers are gone with the run.
  struct sigaction now {};
  ::sigaction(SIGTERM, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
}

// A second SIGTERM ends the program in the middle of the wait, and its record is there: what
// the run did so far, cancelled.
TEST(RebootWaitDeathTest, second_sigterm_ends_the_program_with_the_record_written) {
  TempDir dir;
  ASSERT_EQ(sim::writeSampleUpdateFiles(dir.path()), 0);
  EXPECT_EXIT(
      {
        AtRebootWait wait([] {
          ::raise(SIGTERM);
          ::raise(SIGTERM);
        });
        runAutomatic(dir);
      },
      testing::KilledBySignal(SIGTERM), "");
  const std::vector<StoredRecord> records = recordsOf(dir);
  ASSERT_EQ(records.size(), 1u);
  const ServiceRecord& record = records[0].record;
  EXPECT_EQ(record.outcome, "cancelled");
  EXPECT_EQ(record.result.value_or(0), kResultCancelled);
  ASSERT_FALSE(record.steps.empty());
  EXPECT_EQ(record.steps.back(), kWaitLine);
  EXPECT_TRUE(has(record.steps, "OK    Download processor firmware"));
  ASSERT_TRUE(record.statistics.has_value());
  EXPECT_GT(record.statistics->bytesSent, 0);
}

}  // namespace
