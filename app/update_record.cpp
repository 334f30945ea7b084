// The main dialog's service record of each Run, and the dry run's plan.
#include <ctime>
#include <filesystem>

#include "app/port_echo_delays.h"
#include "app/run_record.h"
#include "app/update_dlg.h"
#include "app/update_plan.h"
#include "app/workflow_steps.h"
#include "flash/config/config_writer.h"
#include "flash/processor_update.h"
#include "flash/result_codes.h"
#include "platform/clock.h"
#include "platform/path_text.h"
#include "platform/temp_files.h"
#include "serial/com_ports.h"

namespace {

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
  std::filesystem::remove(platform::pathFromUtf8(path), ignored);
}

}  // namespace

void CUpdateDlg::beginRecord(bool automatic) {
  m_recorder.begin(automatic, m_dryRun, m_session.m_comm.m_portNo);
  m_plan.clear();
  m_refused = false;
  m_refusal.clear();
  m_portFailure.clear();
  m_jobRead = false;
  m_jobLoaded = false;
  m_leftInUpdateMode = false;
  clearFailureCode();
}

void CUpdateDlg::noteIdentification() {
  m_recorder.identified(m_session.idnString, static_cast<uint32_t>(m_session.hwInfo),
                        m_session.m_boardNumber);
}

void CUpdateDlg::finishRecord(const StepsAfterLastBox& after) {
  noteReadBack();
  RunEnd end;
  end.succeeded = m_lastRunSucceeded;
  end.cancelled = cancelRequested != 0;
  end.refused = m_refused;
  end.refusal = m_refusal;
  end.portFailure = m_portFailure;
  end.steps = statusLines();
  end.firstFailure = firstFailureCode();
  if (after.failedStepCode != 0 && !end.steps.empty()) {
    const FailedStep failed = failedStep(after.failedStepCode);
    end.steps.back() = stepStatusLine(end.steps.back(), 0, failed.lineCode);
    if (end.firstFailure == 0) end.firstFailure = failed.recordCode;
  }
  if (!after.line.empty()) end.steps.push_back(after.line);
  end.job = m_jobRead ? &programmingJob : nullptr;
  end.bytesSent = bytesSent;
  end.packets = packetCount;
  end.packetErrors = packetErrors;
  end.packetRetries = packetRetries;
  m_recorder.finish(end);
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
  markOk();
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
  // The port is still open from the identification.
  input.echo = portEchoDelays(platform::comPortDevice(m_session.m_comm.m_portNo),
                              m_session.m_comm.m_port.get());
  m_plan = updatePlanLines(input);
  return true;
}
