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
  record.steps = stepsOf(platform::joinPath(row.folder, kChildTranscriptFile));
  if (record.updated) {
    // The job the child wrote for this instrument names the files it was about to program;
    // they are this folder's files (the child's folder only links to them).
    ProgrammingJob job;
    std::string message;
    const bool haveJob = readProgrammingConfig(
                             job, platform::joinPath(row.folder, kChildJobFile)) == kConfigReadOk &&
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
  if (platform::readRegularFile(platform::joinPath(row.folder, kChildRecordFile), kMaxRecordBytes,
                                text)) {
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

std::string fleetSummary(const FleetResult& fleet, size_t columns) {
  constexpr size_t kInstrumentWidth = 12;
  constexpr size_t kOutcomeWidth = 10;
  constexpr size_t kMinResultWidth = 20;
  std::vector<std::string> ports;
  size_t longestPort = 4;
  size_t timeWidth = 6;
  for (const FleetRow& row : fleet.rows) {
    ports.push_back(serial::printablePortName(row.port));
    longestPort = std::max(longestPort, textColumns(ports.back()));
    timeWidth = std::max(timeWidth, clockText(row.seconds()).size());
  }
  // As wide as the longest port up to the table's widest; on a terminal, what the other
  // columns leave, but never narrower than what tells the ports apart.
  const size_t distinct = std::min(longestPort, distinctPortWidth(ports));
  size_t portWidth = std::min(longestPort, std::max(kMaxPortWidth, distinct));
  if (columns > 0) {
    const size_t others = 1 + kInstrumentWidth + 1 + kOutcomeWidth + 1 + timeWidth + 1;
    const size_t room = columns > others + kMinResultWidth ? columns - others - kMinResultWidth : 0;
    portWidth = std::min(portWidth, std::max(room, std::max<size_t>(distinct, 4)));
  }
  const std::vector<std::string> fitted = fitPortNames(ports, portWidth);
  // A row's end (its result) is cut at the terminal's edge, never wrapped.
  const auto fitLine = [columns](std::string line) {
    if (columns > 0 && textColumns(line) > columns) line = fitText(line, columns);
    return line + "\n";
  };
  std::string out = "\n";
  out += fitLine(fitText("PORT", portWidth) + " " + fitText("INSTRUMENT", kInstrumentWidth) + " " +
                 fitText("OUTCOME", kOutcomeWidth) + " " + fitText("TIME", timeWidth) + " RESULT");
  int succeeded = 0;
  for (size_t i = 0; i < fleet.rows.size(); ++i) {
    const FleetRow& row = fleet.rows[i];
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
    out += fitLine(fitted[i] + " " + fitText(instrument, kInstrumentWidth) + " " +
                   fitText(row.outcome, kOutcomeWidth) + " " +
                   fitText(clockText(row.seconds()), timeWidth) + " " + result);
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
