// The main dialog's service record of each Run, and the dry run's plan.
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <vector>

#include "app/run_record.h"
#include "app/update_dlg.h"
#include "app/update_plan.h"
#include "flash/config/config_writer.h"
#include "flash/processor_update.h"
#include "flash/result_codes.h"
#include "serial/com_ports.h"

namespace {

double monotonicSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// The file the option update opens for an option kind's name ("B1" opens QAM.BIN).
// A box's text on one line: its line breaks become blanks.
std::string oneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n') c = ' ';
  }
  return text;
}

// An empty file for the dry run's job: in the temporary folder (TMPDIR), else in /tmp, else
// in the current folder. Its path, or empty with the reason in `why`.
std::string createTemporaryJobFile(std::string& why) {
  std::vector<std::string> folders;
  std::error_code error;
  const std::filesystem::path temporary = std::filesystem::temp_directory_path(error);
  if (error) {
    const char* named = std::getenv("TMPDIR");
    why = std::string("no temporary folder") + (named ? std::string(" ") + named : "") + ": " +
          error.message();
  } else {
    folders.push_back(temporary.string());
  }
  folders.push_back("/tmp");
  folders.push_back(".");
  for (const std::string& folder : folders) {
    std::string path = folder + "/zelupdate-job-XXXXXX";
    const int fd = ::mkstemp(path.data());
    if (fd >= 0 && ::close(fd) == 0) return path;
    if (fd >= 0) ::unlink(path.c_str());
    if (why.empty()) why = "cannot create a temporary file in " + folder;
  }
  why = "cannot create a temporary file for the job (" + why + ")";
  return std::string();
}

}  // namespace

void CUpdateDlg::beginRecord(bool automatic) {
  m_record = ServiceRecord{};
  m_record.start = std::time(nullptr);
  m_runStartSeconds = monotonicSeconds();
  m_record.host = hostName();
  m_record.user = userName();
  m_record.program = programNameAndVersion();
  m_record.mode = automatic ? "automatic" : "manual";
  m_record.dryRun = m_dryRun && automatic;
  const int portNo = m_session.m_comm.m_portNo;
  m_record.port = "COM" + std::to_string(portNo);
  m_record.device = platform::comPortDevice(portNo);
  m_plan.clear();
  m_refused = false;
  m_refusal.clear();
  m_jobRead = false;
  m_jobLoaded = false;
  clearFailureCode();
  m_earlierBytesSent = 0;
  m_recordWritten = false;
}

void CUpdateDlg::noteIdentification() {
  ServiceRecordInstrument instrument = instrumentOfIdentification(m_session.idnString);
  instrument.hw = static_cast<uint32_t>(m_session.hwInfo);
  if (m_session.m_boardNumber >= 0) instrument.board = std::to_string(m_session.m_boardNumber);
  m_record.instrument = instrument;
}

void CUpdateDlg::finishRecord() {
  m_record.end = std::time(nullptr);
  m_record.durationSeconds = monotonicSeconds() - m_runStartSeconds;
  m_record.steps = statusLines();
  // The code of the first failing step; a refusal by policy (no memory extension, an old
  // version) has none.
  int32_t code = firstFailureCode();
  if (code == 0) code = firstResultCode(m_record.steps);
  if (m_lastRunSucceeded) {
    m_record.outcome = runOutcomeText(RunOutcome::kSuccess);
    code = 0;
  } else if (cancelRequested != 0) {
    m_record.outcome = runOutcomeText(RunOutcome::kCancelled);
    code = kResultCancelled;
  } else if (m_refused) {
    m_record.outcome = runOutcomeText(RunOutcome::kRefused);
    // The stop box's text names what stopped it (the file that is missing or too long).
    if (code != 0 && !m_refusal.empty()) m_record.resultMeaning = oneLine(m_refusal);
  } else {
    m_record.outcome = runOutcomeText(RunOutcome::kFailed);
  }
  m_record.result = code;
  const bool processor = m_record.updated && m_record.updated->processor;
  const char* option =
      m_record.updated
          ? optionImageFile(optionKindOfName(m_record.updated->option).value_or(kOptionNone))
          : nullptr;
  m_record.files = updateFilesOf(m_jobRead ? &programmingJob : nullptr, processor, option);
  m_record.statistics =
      ServiceRecordStatistics{static_cast<int64_t>(m_earlierBytesSent + bytesSent), packetCount,
                              packetErrors, packetRetries};
  noteReadBack();
  m_recordWritten = true;
  if (m_recordRun) m_recordRun(m_record);
}

bool CUpdateDlg::planDryRun(uint32_t hw) {
  // The job goes to a file of its own: ROMWRITE.CNF stays as the last real run left it.
  addStatusLine("Create configuration file (temporary, dry run)");
  std::string why;
  const std::string path = createTemporaryJobFile(why);
  if (path.empty() ||
      writeAutomaticConfiguration(hw, m_updateSettings.optionUpdate != 0, m_session.m_comm.m_portNo,
                                  path) == kConfigNotCreated) {
    if (!path.empty()) {
      why = "cannot write " + path;
      ::unlink(path.c_str());
    }
    setStepStatus(0, 0);
    noteFailureCode(kResultConfigNotWritten);
    addStatusLine("ERROR - " + why);
    return false;
  }
  setStepStatus(1, 0);
  const bool checked = preflightCheck(true, m_updateSettings.optionKind, path.c_str());
  ::unlink(path.c_str());
  if (!checked) return false;

  UpdatePlanInput input;
  input.job = &programmingJob;
  input.optionImage = optionImageFile(m_updateSettings.optionKind);
  if (m_updateSettings.optionKind == kOptionB1) input.dspPowerOnWaitMs = kDspPowerOnWaitMs;
  input.intermediateBoot = m_intermediateBoot != 0;
  input.verify = m_verify;
  input.backupFolder = m_backupFolder;
  m_plan = updatePlanLines(input);
  return true;
}
