// The technician interrupts a run on its terminal: Ctrl-C asks, and Yes ends the run; a No
// given late leaves the run as it would have been; SIGTERM with the question open ends it
// with its lines and the terminal restored.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/cli/run_command_test_program.h"

namespace cli_test {
namespace {

TEST(RunCommandTest, ctrl_c_on_the_terminal_asks_and_yes_ends_the_run) {
  TempDir dir(false);
  writeUpdateSet(dir);
  TerminalProgram run(dir, {"run", "--port", "sim:hw=0x11000,speed=20", "--transcript", "t.txt"});
  ASSERT_TRUE(run.waitFor(" %")) << run.output();  // under way, with its progress line
  run.type("\x03");
  ASSERT_TRUE(run.waitFor("[y/n] ")) << run.output();
  run.type("y");
  // The workflow's own lines and its stop box follow.
  ASSERT_TRUE(run.waitFor("Press Enter ")) << run.output();
  run.type("\r");
  EXPECT_EQ(run.finish(), 1) << run.output();
  const std::string transcript = dir.read("t.txt");
  // The run went on while the question was open; the answer came later.
  const size_t question =
      transcript.find("! question If update is running,\\ndo not cancel the update.\\nCancel?\n");
  ASSERT_NE(question, std::string::npos) << transcript;
  EXPECT_NE(transcript.find("\n> yes\n", question), std::string::npos) << transcript;
  EXPECT_NE(transcript.find("! stop Update cancelled by the user."), std::string::npos);
  EXPECT_EQ(transcript.find("Update successfully completed"), std::string::npos);
}

// Ctrl-C, then the question left open while the run goes on: n after 30 s of program time
// changes nothing. The lines are those of a run without Cancel.
TEST(RunCommandTest, cancel_answered_no_late_leaves_the_run_as_without_it) {
  const std::string instrument = "sim:hw=0x10000,version=04.41";
  std::vector<std::string> reference;
  {
    TempDir dir(false);
    writeUpdateSet(dir);
    ASSERT_EQ(runProgram(dir, {"run", "--assume-yes", "--port", instrument + ",speed=virtual",
                               "--transcript", "t.txt"})
                  .status,
              0);
    reference = linesOf(dir.read("t.txt"));
  }
  {
    const std::string answer = "n";
    TempDir dir(false);
    writeUpdateSet(dir);
    // Eight times the speed: the target's 2 s echo deadline is 250 ms of real time, a margin
    // that a busy machine's scheduling does not eat up.
    TerminalProgram run(dir, {"run", "--port", instrument + ",speed=8", "--transcript", "t.txt"});
    ASSERT_TRUE(run.waitFor("Download processor firmware")) << run.output();
    run.type("\x03");
    ASSERT_TRUE(run.waitFor("[y/n] ")) << run.output();
    // 30 s of program time with the question open: the target abandons a packet after 2 s
    // without echo, so the engine must go on serving the line meanwhile.
    std::this_thread::sleep_for(std::chrono::milliseconds(3750));
    run.type(answer);
    ASSERT_TRUE(run.waitFor("Press Enter ")) << run.output();
    run.type("\r");
    EXPECT_EQ(run.finish(), 0) << run.output();
    std::vector<std::string> lines;
    for (const std::string& line : linesOf(dir.read("t.txt"))) {
      if (line.rfind("! question", 0) != 0 && line.rfind("> no", 0) != 0) lines.push_back(line);
    }
    EXPECT_EQ(lines, reference);
  }
}

// SIGTERM while the Cancel question is open: the run ends as after Yes, with its lines in
// the transcript, the terminal as it was, and exit status 1.
TEST(RunCommandTest, sigterm_ends_the_run_with_its_lines_and_the_terminal_restored) {
  TempDir dir(false);
  writeUpdateSet(dir);
  TerminalProgram run(dir, {"run", "--port", "sim:hw=0x11000,speed=20", "--transcript", "t.txt"});
  ASSERT_TRUE(run.waitFor("Download processor firmware")) << run.output();
  run.type("\x03");
  ASSERT_TRUE(run.waitFor("[y/n] ")) << run.output();
  ::kill(run.pid(), SIGTERM);
  EXPECT_EQ(run.finish(), 1) << run.output();
  EXPECT_TRUE(run.terminalRestored());
  const std::string transcript = dir.read("t.txt");
  EXPECT_NE(transcript.find("+ ERROR Download processor firmware (FFFF)\n"), std::string::npos)
      << transcript;
  EXPECT_NE(transcript.find("! stop Update cancelled by the user.\\nPlease retry in Manual Mode\n"),
            std::string::npos)
      << transcript;
  EXPECT_EQ(transcript.find("Update Option"), std::string::npos) << transcript;
  const std::vector<StoredRecord> records = recordsOf(dir);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].record.outcome, "cancelled");
  EXPECT_EQ(records[0].record.result.value_or(0), 0xFFFF);
  EXPECT_GT(records[0].record.statistics->bytesSent, 0);
}

}  // namespace
}  // namespace cli_test
