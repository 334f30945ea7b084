// The plain lines with which a run started with --progress-lines tells the program that
// follows it (the fleet) how it goes, between its status lines:
//   progress PERCENT BYTES_PER_S SECONDS_LEFT   -1 for what is not known
//   instrument MODEL SERIAL                      once identified
//   record-so-far {JSON}                         the service record as far as it is known
//   record: FILE                                 where the run kept its record, at its end
// Every other line is a status line or a box as the run shows it. Pure: the writer and the
// reader of each line are here side by side, so that the two cannot drift apart.
#pragma once

#include <cstdint>
#include <string>

struct ProgressReport {
  int percent = -1;            // 0..100; -1: no transfer bar
  double bytesPerSecond = -1;  // -1: not known
  int64_t secondsLeft = -1;    // -1: not known
};

// Each line without its line end.
std::string progressReportLine(const ProgressReport& report);
// Only printable characters other than blanks are kept of the model and the serial, at most
// kMaxInstrumentField of each, so that the line splits back into the two.
std::string instrumentLine(const std::string& model, const std::string& serial);
std::string recordSoFarLine(const std::string& recordJson);
std::string recordKeptLine(const std::string& historyFile);

inline constexpr size_t kMaxInstrumentField = 64;

enum class RunLineKind {
  Status,       // a status line or a box: `text`
  Progress,     // `progress`
  Instrument,   // `model`, `serial`
  RecordSoFar,  // `text`: the record's JSON
  RecordKept,   // `text`: the history file
  Unreadable,   // a progress line whose numbers are not three in range: to be ignored
};

struct RunLine {
  RunLineKind kind = RunLineKind::Status;
  std::string text;
  ProgressReport progress;
  std::string model, serial;
};

RunLine parseRunLine(const std::string& line);
