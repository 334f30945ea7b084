// The child runs of a fleet: each a `zelupdate run` in a folder of its own that holds the
// update files, its output read line by line, and a bound on how long it may stay silent.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/fleet.h"
#include "flash/config/config_writer.h"
#include "platform/child_process.h"

// The files of a child's folder.
inline constexpr const char* kChildRecordFile = "record.jsonl";  // its record, for the report
inline constexpr const char* kChildTranscriptFile = "transcript.txt";
inline constexpr const char* kChildJobFile = kConfigFileName;  // the job it wrote
inline constexpr const char* kChildSettingsFile = "zelupdate.ini";

// Makes the child's folder: the update files as hard links or, where the file system refuses
// those, as copies; its own copy of the settings file. False, with `why`, when one is missing.
bool prepareChildFolder(const FleetOptions& options, const std::string& folder, std::string& why);

// The command line of the child run for a port.
std::vector<std::string> childRunArguments(const FleetOptions& options, const std::string& port,
                                           const std::string& folder);

// One child run, its output and how long it has been silent.
class FleetChild {
 public:
  bool start(const std::vector<std::string>& argv, const std::string& folder, std::string* why);
  bool running() const { return m_process.running(); }
  bool outputOpen() const { return m_process.outputOpen(); }
  platform::ChildProcess* process() { return &m_process; }

  // The whole lines the child has written since the last call, without their line ends and
  // with every control character made visible (they reach the fleet's terminal). Once its
  // output has ended, outputOpen() is false.
  std::vector<std::string> takeLines();

  // A child silent for longer than limitMs is killed; `why` then says so. A run prints a
  // progress line at least every second of program time while its timer runs, and a line
  // per step, so a long silence is a hung child.
  bool killIfSilent(int64_t limitMs, std::string& why);

  void terminate() { m_process.terminate(); }
  bool wait(bool block, platform::ChildExit& exit) { return m_process.wait(block, exit); }

 private:
  platform::ChildProcess m_process;
  std::string m_partialLine;
  std::chrono::steady_clock::time_point m_lastOutput;
};

// The bound on silence when the options give none.
int64_t defaultSilenceLimitMs();
