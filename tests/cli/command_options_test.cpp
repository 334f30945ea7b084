// The value kinds of the command line and the rule that a value never begins with "-", as
// every command applies them.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli/command_options.h"
#include "platform/text_case.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(CommandOptions, value_kinds_take_the_whole_text_or_nothing) {
  struct Row {
    std::string text;
    std::optional<int> yesNo;
    std::optional<uint32_t> word;
    std::optional<int> comNumber;
  };
  const Row rows[] = {
      {"yes", 1, std::nullopt, std::nullopt},
      {"NO", 0, std::nullopt, std::nullopt},
      {"y", std::nullopt, std::nullopt, std::nullopt},  // no abbreviations
      {"5", std::nullopt, 5, 5},
      {"COM5", std::nullopt, std::nullopt, 5},
      {"com12", std::nullopt, std::nullopt, 12},
      {"0x11000", std::nullopt, 0x11000, std::nullopt},
      {"0XfFfFfFfF", std::nullopt, 0xFFFFFFFF, std::nullopt},
      {"4294967296", std::nullopt, std::nullopt, std::nullopt},  // beyond 32 bits
      {"0x", std::nullopt, std::nullopt, std::nullopt},
      {"0", std::nullopt, 0, std::nullopt},  // COM numbers begin at 1
      {"999999", std::nullopt, 999999, 999999},
      {"1000000", std::nullopt, 1000000, std::nullopt},  // "COM1000000" overflows the file's field
      {"-5", std::nullopt, std::nullopt, std::nullopt},
      {" 5", std::nullopt, std::nullopt, std::nullopt},
      {"", std::nullopt, std::nullopt, std::nullopt},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(platform::parseYesNo(row.text), row.yesNo) << row.text;
    EXPECT_EQ(cli::parseWord(row.text), row.word) << row.text;
    EXPECT_EQ(cli::parseComNumber(row.text), row.comNumber) << row.text;
  }
  EXPECT_EQ(cli::parseOptionKind("b10"), cli::parseOptionKind("B10"));
  EXPECT_TRUE(cli::parseOptionKind("none"));
  EXPECT_FALSE(cli::parseOptionKind("B2"));
  EXPECT_EQ(cli::parseCount("16", 1, 16), 16);
  EXPECT_FALSE(cli::parseCount("17", 1, 16));
}

TEST(CommandOptions, a_value_never_begins_with_a_dash_unless_written_with_equals) {
  CLI::App top;
  CLI::App* run = top.add_subcommand("run");
  CommonOptions common;
  std::string transcript, port;
  cli::Selections selections;
  cli::addCommonOptions(top, common);
  cli::addCommonOptions(*run, common);
  cli::addTranscriptOption(*run, transcript);
  cli::addPortOption(*run, port);
  cli::addSelectionOptions(*run, selections);
  struct Row {
    std::vector<std::string> words;
    std::string problem;  // empty: the words are fine
  };
  const Row rows[] = {
      {{"run", "--transcript", "--dry-run"},
       "--transcript needs FILE, not the option '--dry-run' (write --transcript=--dry-run if "
       "that is meant)"},
      {{"run", "--transcript=--dry-run"}, ""},
      {{"run", "--port"}, "--port needs PORT"},
      {{"run", "--port", "-x"}, "--port needs PORT, not the option '-x'"},
      {{"--history", "--json", "run"},
       "--history needs FILE, not the option '--json' (write --history=--json if that is meant)"},
      {{"run", "--trace", "-"}, ""},  // standard error
      // An optional value: a word with a dash is the next option.
      {{"run", "--option-update", "--port", "COM1"}, ""},
      {{"run", "--option-update", "--port", "--x"}, "--port needs PORT, not the option '--x'"},
      // A value is never read as an option: "--port" is the transcript's name here.
      {{"run", "--transcript", "run", "--port", "COM1"}, ""},
      {{"run", "--", "--port"}, ""},
      // An option that takes no value takes none written with "=" either.
      {{"run", "--no-history=no"}, "--no-history takes no value, not 'no'"},
      {{"--no-history=yes", "run"}, "--no-history takes no value, not 'yes'"},
      {{"run", "--no-such", "--port"}, "--port needs PORT"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(cli::valueWordProblem(top, row.words), row.problem)
        << testing::PrintToString(row.words);
  }
}

// The words of the hazards that once started what was not asked for: a usage error, and
// nothing read or written.
TEST(CommandOptions, an_option_as_a_value_is_a_usage_error_of_every_command) {
  testing_support::TempDir dir;
  CommonOptions common;
  common.settingsFile = dir.file("absent.ini");
  common.historyFile = dir.file("history.jsonl");
  struct Row {
    int (*command)(const std::vector<std::string>&, const CommonOptions&);
    std::vector<std::string> args;
    std::string said;
  };
  const Row rows[] = {
      {commandRun,
       {"--assume-yes", "--transcript", "--dry-run", "--port", "sim:speed=virtual"},
       "zelupdate run: --transcript needs FILE, not the option '--dry-run'"},
      {commandRun,
       {"--backup", "--verify", "--port", "sim:speed=virtual"},
       "zelupdate run: --backup needs DIR, not the option '--verify'"},
      {commandHistory,
       {"--history", "--json"},
       "zelupdate history: --history needs FILE, not the option '--json'"},
      {commandBackup,
       {"--port", "--assume-yes", "bk"},
       "zelupdate backup: --port needs PORT, not the option '--assume-yes'"},
      {commandFleet,
       {"--report", "--verify", "sim:"},
       "zelupdate fleet: --report needs FILE, not the option '--verify'"},
      {commandGenerate,
       {"--hw", "--manual"},
       "zelupdate generate: --hw needs WORD, not the option '--manual'"},
      {commandSimulate,
       {"--rfc2217", "2001", "--pty"},
       "zelupdate simulate: --rfc2217 and --pty exclude each other"},
      {commandDemo,
       {"--speed", "--window"},
       "zelupdate demo: --speed needs N|virtual, not the option '--window'"},
      {commandRun,
       {"--port", "sim:", "--port", "COM1"},
       "zelupdate run: --port is given more than once"},
      {commandRun, {"--dry-run=maybe"}, "zelupdate run: --dry-run takes no value, not 'maybe'"},
      {commandRun,
       {"--manual", "--memory-extension", "maybe"},
       "zelupdate run: --memory-extension: takes yes or no, not 'maybe'"},
      {commandExplain, {"1", "2"}, "zelupdate explain: unexpected argument '2'"},
      {commandExplain, {}, "zelupdate explain: CODE is required"},
      {commandRun,
       {"--history", "/dev/null", "--port", "sim:"},
       "zelupdate run: --history: /dev/null is not a regular file"},
      {commandFleet,
       {"--report", "/dev/null", "sim:"},
       "zelupdate fleet: cannot write the report: /dev/null is not a regular file"},
      {commandRun,
       {"--fleet-record", "/no/such/folder/r", "--port", "sim:"},
       "zelupdate run: --fleet-record: /no/such/folder/r: no folder /no/such/folder"},
      {commandDemo, {"/dev/null"}, "zelupdate demo: /dev/null is not a folder"},
      {commandHistory,
       {"--port", "COM0"},
       "zelupdate history: --port: takes a port as run --port does"},
  };
  for (const Row& row : rows) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(row.command(row.args, common), kExitUsage) << testing::PrintToString(row.args);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind(row.said, 0), 0u) << err;
    EXPECT_EQ(err.find('\n'), err.size() - 1) << err;  // one line
    EXPECT_EQ(out, "");
  }
  // No transcript, backup folder, report or record.
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

}  // namespace
