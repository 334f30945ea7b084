// The main dialog's service record of each Run, and the dry run's plan.
#include <ctime>
#include <filesystem>

#include "app/run_record.h"
#include "app/update_dlg.h"
#include "app/update_plan.h"
#include "flash/config/config_writer.h"
#include "flash/processor_update.h"
#include "flash/result_codes.h"
#include "platform/clock.h"
#include "platform/temp_files.h"
#include "serial/com_ports.h"

namespace {

// The file the option update opens for an option kind's name ("B1" opens QAM.BIN).
// A box's text on one line: its line breaks become blanks.
std::string oneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n') c = ' ';
  }
  return text;
}

// An empty file for the dry run's job: in the temporary folder (TMPDIR, else /tmp), else in
// the current folder. Its path, or empty with the reason in `why`.
std::string createTemporaryJobFile(std::string& why) {
  constexpr const char* kPrefix = "zelupdate-job-";
  std::string path;
  if (platform::createTemporaryFile(kPrefix, path, &why) ||
      platform::createTemporaryFileIn(".", kPrefix, path)) {
    return path;
  }
  why = "cannot create a temporary file for the job (" + why + ")";
  return std::string();
}

// Removes the dry run's job file; one that cannot be removed stays in the temporary folder.
void removeJobFile(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
}

}  // namespace

void CUpdateDlg::beginRecord(bool automatic) {
  m_record = ServiceRecord{};
  m_record.start = std::time(nullptr);
  m_runStartSeconds = platform::wallSeconds();
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
  m_record.durationSeconds = platform::wallSeconds() - m_runStartSeconds;
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
      removeJobFile(path);
    }
    setStepStatus(0, 0);
    noteFailureCode(kResultConfigNotWritten);
    addStatusLine("ERROR - " + why);
    return false;
  }
  setStepStatus(1, 0);
  const bool checked = preflightCheck(true, m_updateSettings.optionKind, path.c_str());
  removeJobFile(path);
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
