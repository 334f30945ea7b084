#include "cli/fleet_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "app/json_text.h"
#include "app/run_record.h"
#include "cli/fleet_children.h"
#include "cli/fleet_table.h"
#include "cli/transcript.h"
#include "dsp/option_kinds.h"
#include "flash/config/config_check.h"
#include "flash/config/config_reader.h"
#include "platform/host_identity.h"
#include "platform/path_text.h"
#include "platform/whole_file.h"
#include "serial/com_ports.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxRecordBytes = 1 << 20;

std::vector<std::string> stepsOf(const std::string& transcriptFile) {
  std::string text;
  if (!platform::readRegularFile(transcriptFile, kMaxRecordBytes, text)) return {};
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return replayTranscript(lines);
}

// The record of a child that left none (it crashed, was killed, hung or never started):
// what the child told of itself while running (instrument, port, plan), the files of the
// job it wrote, the status list of its transcript, and how it ended.
ServiceRecord recordForSilentChild(FleetRow& row, const platform::ChildExit& exit) {
  ServiceRecord record = row.recordSoFar.value_or(ServiceRecord{});
  record.start = row.startUtc;
  record.end = row.endUtc;
  record.durationSeconds = std::round(row.seconds() * 10) / 10;
  if (record.host.empty()) record.host = platform::hostName();
  if (record.user.empty()) record.user = platform::userName();
  if (record.program.empty()) record.program = programNameAndVersion();
  if (record.mode.empty()) record.mode = "automatic";
  record.port = row.port;
  record.steps = stepsOf(row.folder + "/" + kChildTranscriptFile);
  if (record.updated) {
    // The job the child wrote for this instrument names the files it was about to program;
    // they are this folder's files (the child's folder only links to them).
    ProgrammingJob job;
    std::string message;
    const bool haveJob =
        readProgrammingConfig(job, row.folder + "/" + kChildJobFile) == kConfigReadOk &&
        checkProgrammingJob(job, message) == 0;
    record.files = updateFilesOf(
        haveJob ? &job : nullptr, record.updated->processor,
        optionImageFile(optionKindOfName(record.updated->option).value_or(kOptionNone)));
  }
  const bool exitedOk = exit.exited && exit.exitCode == 0;
  if (exitedOk) {
    record.outcome = runOutcomeText(RunOutcome::kSuccess);
  } else if (row.cancelSent && (!row.launched || exit.exited)) {
    record.outcome = runOutcomeText(RunOutcome::kCancelled);
  } else {
    record.outcome = runOutcomeText(RunOutcome::kFailed);
  }
  if (row.why.empty() && !exit.exited) row.why = exit.cause;
  if (!row.why.empty()) {
    record.steps.push_back((runOutcomeOf(record.outcome) == RunOutcome::kFailed ? "ERROR - " : "") +
                           row.why);
  }
  if (const int32_t code = firstResultCode(record.steps); code != 0) record.result = code;
  return record;
}

}  // namespace

bool collectChildRecord(FleetRow& row, const platform::ChildExit& exit) {
  // The child's own record, when it kept one: it is in the history already.
  ServiceRecord record;
  std::string text;
  bool haveRecord = false;
  if (platform::readRegularFile(row.folder + "/" + kChildRecordFile, kMaxRecordBytes, text)) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
      ServiceRecord parsed;
      if (parseRecordLine(line, parsed)) {
        record = parsed;
        haveRecord = true;
      }
    }
  }
  const bool exitedOk = exit.exited && exit.exitCode == 0;
  if (!haveRecord) {
    record = recordForSilentChild(row, exit);
  } else if (!exitedOk && runOutcomeOf(record.outcome) == RunOutcome::kSuccess) {
    record.outcome =
        runOutcomeText(RunOutcome::kFailed);  // a record can not make a failed child a success
  }
  record.frontEnd = "fleet";
  if (record.port.empty()) record.port = row.port;
  if (record.instrument) {
    row.model = record.instrument->model;
    row.serial = record.instrument->serial;
  }
  row.outcome = record.outcome;
  row.record = record;
  // The row's last word: the run's final box as the child said it, else why it ended.
  if (!row.why.empty())
    row.step = (runOutcomeOf(row.outcome) == RunOutcome::kFailed ? "ERROR - " : "") + row.why;
  return haveRecord;
}

std::string fleetSummary(const FleetResult& fleet) {
  size_t portWidth = 4;
  size_t timeWidth = 6;
  for (const FleetRow& row : fleet.rows) {
    portWidth = std::clamp(platform::printablePortName(row.port).size(), portWidth, kMaxPortWidth);
    timeWidth = std::max(timeWidth, clockText(row.seconds()).size());
  }
  std::string out = "\n";
  out += fitText("PORT", portWidth) + " " + fitText("INSTRUMENT", 12) + " " +
         fitText("OUTCOME", 10) + " " + fitText("TIME", timeWidth) + " RESULT\n";
  int succeeded = 0;
  for (const FleetRow& row : fleet.rows) {
    std::string instrument = row.model;
    if (!row.serial.empty()) instrument += (instrument.empty() ? "" : " ") + row.serial;
    std::string result;
    if (row.record.result && *row.record.result != 0) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "0x%X", static_cast<uint32_t>(*row.record.result));
      result = hex;
      if (!row.record.resultMeaning.empty()) result += " " + row.record.resultMeaning;
    } else if (!row.why.empty()) {
      result = row.why;
    } else if (runOutcomeOf(row.outcome) != RunOutcome::kSuccess && !row.record.steps.empty()) {
      result = row.record.steps.back();
    }
    out += fitText(platform::printablePortName(row.port), portWidth) + " " +
           fitText(instrument, 12) + " " + fitText(row.outcome, 10) + " " +
           fitText(clockText(row.seconds()), timeWidth) + " " + result + "\n";
    if (runOutcomeOf(row.outcome) == RunOutcome::kSuccess) ++succeeded;
  }
  out += std::to_string(succeeded) + " of " + std::to_string(fleet.rows.size()) +
         " updates succeeded; each child's files are in " + fleet.folder + "\n";
  return out;
}

std::string writeFleetReport(const std::string& reportFile, const FleetResult& fleet) {
  Json report = {{"start", isoUtc(fleet.start)},
                 {"end", isoUtc(fleet.end)},
                 {"ports", Json::array()},
                 {"runs", Json::array()}};
  for (const FleetRow& row : fleet.rows) {
    report["ports"].push_back(jsonString(row.port));
    report["runs"].push_back(serviceRecordValue(row.record));
  }
  const std::string json = jsonLine(report) + "\n";
  std::string why;
  std::error_code error;
  // Checked before the start as well: a folder that went away meanwhile is not made anew.
  if (!fs::is_directory(platform::pathFromUtf8(reportFile).parent_path(), error)) {
    return "cannot write report " + reportFile + ": its folder is gone";
  }
  if (!platform::writeFileWhole(reportFile, json, &why)) {
    return "cannot write report " + reportFile + ": " + why;
  }
  return std::string();
}
