// Service records: one JSON object per line of the history file for every run, whatever its
// outcome, appended whole under an exclusive lock; and the history read back and filtered.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/json_text.h"

inline constexpr int kServiceRecordFormat = 1;

// How a run ended, as a record's "outcome" names it.
enum class RunOutcome { kSuccess, kFailed, kCancelled, kRefused };
// "success", "failed", "cancelled" or "refused".
const char* runOutcomeText(RunOutcome outcome);
// The outcome a text names; unset for anything else (empty, or a text of another writer).
std::optional<RunOutcome> runOutcomeOf(std::string_view text);

// The instrument as identified; empty texts are unknown and left out of the line.
struct ServiceRecordInstrument {
  std::string maker;
  std::string model;
  std::string serial;
  std::string version;
  std::optional<uint32_t> hw;  // the hardware information word, written "0x11000"
  std::string board;
};

// What the run set out to update.
struct ServiceRecordUpdated {
  bool processor = false;
  std::string option;  // "B1", "B10", "B20"; empty = null (no option update)
};

// One host file of the update.
struct ServiceRecordFile {
  std::string role;  // "loader", "transfer", "program", "option"
  std::string name;
  std::optional<int64_t> bytes;
  std::string sha256;              // 64 lower-case hex digits; empty = unknown
  std::optional<uint32_t> target;  // start address of a program file, written "0x400000"
};

struct ServiceRecordStatistics {
  int64_t bytesSent = 0;
  int64_t packets = 0;
  int64_t packetErrors = 0;
  int64_t packetRetries = 0;
};

// Every key of a record. Unknown values stay empty (texts, lists) or unset (optionals) and
// are then absent from the line.
struct ServiceRecord {
  int format = kServiceRecordFormat;  // "record"
  std::optional<std::time_t> start;   // UTC seconds
  std::optional<std::time_t> end;
  std::optional<double> durationSeconds;
  std::string host;
  std::string user;
  std::string program;   // "zelupdate 0.2.0"
  std::string frontEnd;  // "console", "window", "fleet"
  std::string mode;      // "automatic", "manual"
  bool dryRun = false;   // written only when true
  std::string port;      // as given
  std::string device;    // what it resolved to
  std::optional<ServiceRecordInstrument> instrument;
  std::string versionAfter;
  std::optional<ServiceRecordUpdated> updated;
  std::vector<ServiceRecordFile> files;  // absent when empty
  std::vector<std::string> steps;        // the final status list; absent when empty
  // The code of the first failing step, 0 for none. Written as 0, or as {"code", "hex",
  // "meaning"}; the meaning is taken from the engine's table when left empty.
  std::optional<int32_t> result;
  std::string resultMeaning;
  std::string outcome;  // runOutcomeText(), or as read
  std::optional<ServiceRecordStatistics> statistics;
  // Read back: unset when not asked for; "ok", "differs", or empty (null: not reached).
  std::optional<std::string> verify;
  std::vector<uint32_t> differences;  // with "differs": the first differing addresses
  std::string backup;                 // the folder the flash was saved to before the erase
  std::string restore;                // the backup folder programmed back
  bool recovered = false;  // restored into an instrument that waited in update mode, unidentified
};

// The instrument as the "instrument" object of a record, and read back from one (false when
// the value is no object).
Json instrumentJson(const ServiceRecordInstrument& instrument);
bool instrumentOfJson(const Json* value, ServiceRecordInstrument& instrument);

// The record as one line of JSON, without the line feed.
std::string serviceRecordJson(const ServiceRecord& record);
// The record as a JSON object, to be written inside another document.
Json serviceRecordValue(const ServiceRecord& record);

// UTC, ISO 8601 with seconds: "2026-12-07T18:42:47Z"; and back (false for anything else).
std::string isoUtc(std::time_t when);
bool parseIsoUtc(const std::string& text, std::time_t& when);

// $XDG_STATE_HOME/zelupdate/history.jsonl, or ~/.local/state/zelupdate/history.jsonl when
// the variable is unset, empty or not an absolute path.
std::string defaultHistoryPath();

// Appends the record as one line: creates the folder, opens the file for appending without
// ever blocking (a FIFO or a device is refused: only regular files), waits a bounded time for
// the exclusive lock and writes the whole line with one write. A line that cannot be written
// whole is taken back, so the file keeps only whole lines. False with the reason in `why`.
bool appendRecord(const std::string& path, const ServiceRecord& record, std::string* why);

// Reads one line of the history. False for anything that is not a JSON object; keys of the
// wrong type are left unset.
bool parseRecordLine(const std::string& line, ServiceRecord& record);

// A record as read, with the line as it is stored.
struct StoredRecord {
  ServiceRecord record;
  std::string line;
};

// Which records to keep; empty texts and an unset date match every record.
struct HistoryFilter {
  std::string serial;  // the instrument's serial number, exactly
  // A port in any form `run --port` takes (15, com15, COM15, a device path, a stable link):
  // matches the records whose port names the same COM number, or whose device is the same
  // device once links are resolved (COM numbers through the mapping loaded now).
  std::string port;
  std::optional<std::time_t> since;  // the run started at or after this UTC time
};

// Parses "YYYY-MM-DD" as UTC midnight of that day.
bool parseHistoryDate(const std::string& text, std::time_t& when);

// The matching records of the history file, oldest first (by start; records of one start in
// file order). Lines that are not records are skipped. A missing file is an empty history.
// False, with `why`, when the file exists but cannot be read as a regular file.
bool readHistory(const std::string& path, const HistoryFilter& filter,
                 std::vector<StoredRecord>& records, std::string* why);
