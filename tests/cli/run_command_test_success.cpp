// A run that succeeds: `zelupdate run` and `zelupdate demo` against the simulated instrument
// end with the success box, their transcript replaying to the status list, their output
// (to a file, a pipe nobody reads, a terminal) and their progress at its end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <utility>
#include <vector>

#include "cli/transcript.h"
#include "sim/sample_files.h"
#include "tests/cli/run_command_test_program.h"

namespace cli_test {
namespace {

const std::vector<std::string> kAutomaticUpdateWithBoot = {
    "OK    Autoconnect with device",
    "OK    Get SW/HW info",
    "Processor board with memory extension",
    "Current software version ZEL: 04.40",
    "OK    Create configuration file",
    "OK    Set ZEL in update mode",
    "Preparing update environment",
    "OK    Check ZEL in update mode",
    "OK    Download bootloader",
    "OK    Download transfer program",
    "Update processor firmware",
    "OK    Delete flash",
    "OK    Download processor firmware",
    "OK    Get checksum from target",
    "OK    Update processor firmware completed",
    "OK    Wait until ZEL is booted",
    "Update processor firmware successfully completed",
    "OK    Set ZEL in update mode",
    "Update Option(B20)",
    "OK    Check ZEL in update mode",
    "OK    Download bootloader",
    "OK    Download transfer program",
    "OK    Erasing Flash ROMs on DSP module...",
    "OK    Programming Flash ROMs on DSP module...",
    "OK    Waiting for checksum from DSP module...",
    "Update of DSP option successfully completed",
};

TEST(RunCommandTest, automatic_run_succeeds_and_its_transcript_replays_to_the_status_list) {
  TempDir dir(false);
  writeUpdateSet(dir);
  dir.write("settings.ini", "[DEVICE]\nPORT_NO=7\n");
  const Result result = runProgram(dir, {"run", "--port", "sim:hw=0x11000,version=04.40",
                                         "--assume-yes", "--transcript", "t.txt"});
  ASSERT_EQ(result.status, 0) << result.out << result.err;
  EXPECT_EQ(result.err, "");
  const std::vector<std::string> transcript = linesOf(dir.read("t.txt"));
  EXPECT_EQ(replayTranscript(transcript), kAutomaticUpdateWithBoot);
  ASSERT_FALSE(transcript.empty());
  EXPECT_EQ(transcript.back(), "! info Update successfully completed.\\nEXIT update program.");
  // Standard output streamed the same lines, in the same order, and the box with its answer.
  const std::vector<std::string> out = linesOf(result.out);
  size_t at = 0;
  for (const std::string& line : kAutomaticUpdateWithBoot) {
    while (at < out.size() && out[at] != line) ++at;
    ASSERT_LT(at, out.size()) << "missing or out of order: " << line;
  }
  EXPECT_NE(result.out.find("[info] Update successfully completed.\n"
                            "       EXIT update program.\n"
                            "       -> OK\n"),
            std::string::npos);
  // A port given by name takes a number for the run only: the settings keep theirs.
  EXPECT_NE(dir.read("settings.ini").find("PORT_NO=7"), std::string::npos);
}

TEST(RunCommandTest, output_that_nobody_reads_does_not_stop_the_run) {
  TempDir dir(false);
  writeUpdateSet(dir);
  const Result result =
      runProgram(dir, {"run", "--port", "sim:hw=0x11000", "--transcript", "t.txt"}, true);
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(dir.read("t.txt").find("! info Update successfully completed."), std::string::npos);
}

TEST(RunCommandTest, demo_on_a_terminal_shows_the_progress_and_ends_with_the_success_box) {
  TempDir dir(false);
  TerminalProgram demo(dir, {"demo", dir.file("demo"), "--speed", "virtual"});
  ASSERT_TRUE(demo.waitFor("Press Enter ")) << demo.output();
  demo.type("\r");
  ASSERT_EQ(demo.finish(), 0) << demo.output();
  const std::string& out = demo.output();
  // The progress line is redrawn in place with a rising percent; steps are rewritten in place.
  const size_t low = out.find("]   1 %");
  const size_t high = out.find("]  50 %");
  ASSERT_NE(low, std::string::npos) << out;
  ASSERT_NE(high, std::string::npos) << out;
  EXPECT_LT(low, high);
  EXPECT_NE(out.find("\x1b[1A\r\x1b[2KOK    Download processor firmware"), std::string::npos);
  EXPECT_NE(out.find("[info] Update successfully completed.\r\n"), std::string::npos);
  EXPECT_NE(out.find("Press Enter OK"), std::string::npos);
  EXPECT_NE(dir.read("demo/zelupdate.ini").find("PORT_NO"), std::string::npos);
  // The instrument reports the sample set's release once it has booted it.
  const std::vector<StoredRecord> records = recordsOf(dir);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].record.instrument->version, "04.40");
  EXPECT_EQ(records[0].record.versionAfter, sim::kSampleFirmwareVersion);
}

// The transfer bar's percents that a terminal was shown ("[====>   ]  42 %"), each with the
// place in the output where it stands.
std::vector<std::pair<size_t, int>> drawnPercents(const std::string& out) {
  std::vector<std::pair<size_t, int>> found;
  for (size_t at = out.find(" %"); at != std::string::npos; at = out.find(" %", at + 2)) {
    size_t digits = at;
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(out[digits - 1]))) --digits;
    size_t blanks = digits;
    while (blanks > 0 && out[blanks - 1] == ' ') --blanks;
    if (digits == at || blanks == digits || blanks == 0 || out[blanks - 1] != ']') continue;
    found.emplace_back(at, std::stoi(out.substr(digits, at - digits)));
  }
  return found;
}

// A run that succeeded shows its progress at the end when its box comes: on a terminal the
// last progress line, left standing above the box, at 100 %, after the option's phase rose
// again from near 0; for a program reading plain lines, "progress 100" last.
TEST(RunCommandTest, progress_stands_at_its_end_at_the_success_box) {
  const std::string port = "sim:hw=0x11000,speed=virtual";
  const std::string box = "[info] Update successfully completed.";
  {
    TempDir dir(false);
    writeUpdateSet(dir);
    TerminalProgram run(dir, {"run", "--port", port});
    ASSERT_TRUE(run.waitFor("Press Enter ")) << run.output();
    // What the terminal shows while the box waits is all this looks at.
    ::kill(run.pid(), SIGKILL);
    run.finish();
    const std::string& out = run.output();
    const size_t boxAt = out.find(box);
    const size_t optionAt = out.find("Update Option(B20)");
    ASSERT_NE(boxAt, std::string::npos);
    ASSERT_NE(optionAt, std::string::npos);
    std::vector<int> option;
    int last = -1;
    for (const auto& [at, percent] : drawnPercents(out)) {
      if (at > boxAt) break;
      last = percent;
      if (at > optionAt) option.push_back(percent);
    }
    EXPECT_EQ(last, 100) << out;
    EXPECT_EQ(out.find("\r\n", out.rfind(" %", boxAt)) + 2, boxAt) << "the 100 % line stays";
    ASSERT_GE(option.size(), 3u) << out;
    EXPECT_LE(*std::min_element(option.begin(), option.end() - 1), 10);
    EXPECT_GE(*std::max_element(option.begin(), option.end() - 1), 80);
    EXPECT_EQ(std::count(option.begin(), option.end(), 100), 1);
  }
  {
    TempDir dir(false);
    writeUpdateSet(dir);
    const Result result =
        runProgram(dir, {"run", "--assume-yes", "--progress-lines", "--port", port});
    ASSERT_EQ(result.status, 0) << result.out;
    const size_t boxAt = result.out.find(box);
    ASSERT_NE(boxAt, std::string::npos) << result.out;
    const size_t lastProgress = result.out.rfind("\nprogress ", boxAt);
    ASSERT_NE(lastProgress, std::string::npos) << result.out;
    EXPECT_EQ(result.out.substr(lastProgress + 1, 13), "progress 100 ") << result.out;
  }
}

}  // namespace
}  // namespace cli_test
