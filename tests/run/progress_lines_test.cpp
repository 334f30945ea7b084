#include "run/progress_lines.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// What the fleet makes of each line a child run prints.
TEST(ProgressLines, each_line_is_read_as_its_kind) {
  const struct {
    std::string line;
    RunLineKind kind;
    ProgressReport progress;
    std::string model, serial, text;
  } rows[] = {
      {"progress 12 8400 65", RunLineKind::Progress, {12, 8400, 65}, "", "", ""},
      {"progress -1 -1 -1", RunLineKind::Progress, {-1, -1, -1}, "", "", ""},
      {"progress 100 512.5 0", RunLineKind::Progress, {100, 512.5, 0}, "", "", ""},
      // Malformed progress lines are no status lines either: the run printed them as numbers.
      {"progress 12 8400", RunLineKind::Unreadable, {}, "", "", ""},       // one short
      {"progress 12 8400 65 7", RunLineKind::Unreadable, {}, "", "", ""},  // one too many
      {"progress 12  8400 65", RunLineKind::Unreadable, {}, "", "", ""},   // two blanks
      {"progress x 8400 65", RunLineKind::Unreadable, {}, "", "", ""},     // no number
      {"progress 101 8400 65", RunLineKind::Unreadable, {}, "", "", ""},   // above 100 %
      {"progress 12 nan 65", RunLineKind::Unreadable, {}, "", "", ""},     // no rate
      {"progress 12 8400 -65", RunLineKind::Unreadable, {}, "", "", ""},   // time runs back
      {"progress 12 8400 99999999999999999999", RunLineKind::Unreadable, {}, "", "", ""},
      {"instrument ZEL 57", RunLineKind::Instrument, {}, "ZEL", "57", ""},
      {"instrument  57", RunLineKind::Instrument, {}, "", "57", ""},  // no model
      {"instrument ZEL", RunLineKind::Instrument, {}, "ZEL", "", ""},
      {"record-so-far {\"record\":1}", RunLineKind::RecordSoFar, {}, "", "", "{\"record\":1}"},
      {"record: /tmp/h.jsonl", RunLineKind::RecordKept, {}, "", "", "/tmp/h.jsonl"},
      {"OK    Get SW/HW info", RunLineKind::Status, {}, "", "", "OK    Get SW/HW info"},
      {"progressing", RunLineKind::Status, {}, "", "", "progressing"},
      {"", RunLineKind::Status, {}, "", "", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    const RunLine got = parseRunLine(row.line);
    EXPECT_EQ(got.kind, row.kind);
    EXPECT_EQ(got.progress.percent, row.progress.percent);
    EXPECT_EQ(got.progress.bytesPerSecond, row.progress.bytesPerSecond);
    EXPECT_EQ(got.progress.secondsLeft, row.progress.secondsLeft);
    EXPECT_EQ(got.model, row.model);
    EXPECT_EQ(got.serial, row.serial);
    EXPECT_EQ(got.text, row.text);
  }
}

// What a run writes reads back as it meant it.
TEST(ProgressLines, written_lines_read_back) {
  EXPECT_EQ(progressReportLine({12, 8432.6, 65}), "progress 12 8433 65");
  EXPECT_EQ(progressReportLine({-1, -0.5, -3}), "progress -1 -1 -1");
  EXPECT_EQ(parseRunLine(progressReportLine({140, 10, 2})).progress.percent, 100);
  // Blanks, control characters and an endless serial would split the line elsewhere.
  const std::string serial = "A 1\t2\x1b" + std::string(100, '9');
  const std::string line = instrumentLine("Z EL", serial);
  EXPECT_EQ(line, "instrument ZEL A12" + std::string(kMaxInstrumentField - 3, '9'));
  const RunLine back = parseRunLine(line);
  EXPECT_EQ(back.kind, RunLineKind::Instrument);
  EXPECT_EQ(back.model, "ZEL");
  EXPECT_EQ(back.serial.size(), kMaxInstrumentField);
  EXPECT_EQ(parseRunLine(recordSoFarLine("{}")).text, "{}");
  EXPECT_EQ(parseRunLine(recordKeptLine("h.jsonl")).kind, RunLineKind::RecordKept);
}

}  // namespace
