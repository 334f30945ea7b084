// zelupdate fleet: one automatic update per port, each run by a child `zelupdate run` in a
// folder of its own, at most a given number at once, followed in a live table (a terminal)
// or in plain lines (elsewhere), and summed up at the end with every child's record.
// The parts: fleet_children (the child runs, their output, the bound on their silence),
// fleet_table (what the technician sees meanwhile), fleet_report (the records, the summary
// and the report); this file runs them and serves the question to cancel.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "app/service_record.h"

struct FleetOptions {
  std::vector<std::string> ports;  // as given; one child each
  int jobs = 0;                    // children at once; 0: all
  std::string program;             // the zelupdate executable the children run
  std::string updateFolder;        // whose update files each child's folder holds
  std::string workFolder;          // where fleet-YYYYMMDD-HHMMSS[-N]/ is created
  std::string settingsFile;        // copied into each child's folder when it exists
  // Each child appends its own record here (so a fleet that is killed loses none); the
  // fleet appends one only for a child that left none. Empty: no history.
  std::string historyFile;
  std::string reportFile;  // the JSON document of the whole run; empty: none
  int inputFd = 0;         // the answer to the cancel question
  int outputFd = 1;
  // A child that prints nothing for this long is killed (its run prints a progress line at
  // least every second of program time while its timer runs, and a line per step).
  int64_t silenceLimitMs = 0;  // 0: the default bound
  bool catchSignals = true;    // Ctrl-C asks, SIGTERM and SIGHUP cancel all
  bool verify = false;         // each child reads its images back (run --verify)
};

// One port of the fleet and what its child did.
struct FleetRow {
  std::string port;
  std::string folder;
  enum class State { Waiting, Running, Done } state = State::Waiting;
  std::string model, serial;  // once known
  std::string step;           // the last status line or box
  int percent = -1;
  double bytesPerSecond = -1;
  int64_t secondsLeft = -1;
  std::string outcome;    // once done: "success", "failed", "cancelled"
  std::string why;        // how a child ended that left no record of its own
  bool launched = false;  // a child was started for it
  bool cancelSent = false;
  std::chrono::steady_clock::time_point started, ended;
  std::time_t startUtc = 0, endUtc = 0;
  // The record as far as the child told it while running: instrument, port, plan.
  std::optional<ServiceRecord> recordSoFar;
  ServiceRecord record;
  double seconds() const { return std::chrono::duration<double>(ended - started).count(); }
};

struct FleetResult {
  std::vector<FleetRow> rows;
  std::string folder;  // fleet-YYYYMMDD-HHMMSS, -N added where that was taken
  std::time_t start = 0, end = 0;
  int status = 0;  // 0 when every update succeeded, 1 otherwise
};

// Runs the fleet; its exit status. `result` (when given) receives the rows.
int runFleet(const FleetOptions& options, FleetResult* result = nullptr);
