#include "app/workflows/manual_update.h"

#include <string>

#include "app/workflows/run_steps.h"
#include "app/workflows/workflow_steps.h"
#include "flash/config/config_writer.h"
#include "flash/result_codes.h"

namespace {

constexpr const char* kServiceMenuSteps =
    "ZEL settings before update:\n- press key PRESET\n- press softkey SERVICE...\n- press softkey "
    "FIRMWARE UPDATE...,\n- press softkey YES.\nDisplay should now be black.";
constexpr const char* kRemoteSettingsSteps =
    "ZEL settings before update:\n- press hardkey SETUP\n- press softkey REMOTE...\n- press "
    "softkey RS232...\n- BAUDRATE 9600\n- DATABITS 8\n- PARITY NO\n- STOPBIT 1\n- HANDSHAKE "
    "XON/XOFF.";
constexpr const char* kOptionStoppedLine =
    "Option update stopped because processor firmware download failed";

}  // namespace

bool ManualUpdate::run() {
  const UpdateSettings& s = m_run.settings;
  addStatusLine("Manual mode with settings in configuration menu");
  addStatusLine("Create configuration file");
  m_run.host.setExpectedBytes(manualExpectedBytes(s, m_run));
  m_run.host.countTimerRunning();
  m_run.record.noteUpdated(s.processorFirmware != 0,
                           s.optionUpdate != 0 ? optionKindName(s.optionKind) : "");
  // Without its file a run would program the job of an earlier one.
  if (!createConfigurationFile()) return false;
  // Everything the updates will need is checked before the first instruction to the user.
  const bool anyUpdate = s.processorFirmware != 0 || s.optionUpdate != 0;
  if (anyUpdate && !preflightCheck(m_run, s.processorFirmware != 0,
                                   s.optionUpdate != 0 ? s.optionKind : kOptionNone)) {
    return false;
  }
  // Without an update the file is the run's whole work.
  if (s.processorFirmware != 0 && !updateProcessor()) return false;
  if (s.optionUpdate != 0) {
    m_succeeded = false;
    if (s.processorFirmware == 0) m_run.intermediateBoot = 1;
    if (!m_processorOk) {
      addStatusLine(kOptionStoppedLine);
      return false;
    }
    if (cancelRequested != 0) {
      stopForCancel(m_run);
      return false;
    }
    updateOption();
  }
  return m_succeeded;
}

bool ManualUpdate::createConfigurationFile() {
  const bool written =
      writeManualConfiguration(m_run.session.m_comm.m_portNo, manualSelectionsOf(m_run.settings)) ==
      kConfigWritten;
  setStepStatus(written ? 1 : 0, 0);
  if (!written) noteFailureCode(kResultConfigNotWritten);
  return written;
}

bool ManualUpdate::updateProcessor() {
  const UpdateSettings& s = m_run.settings;
  WorkflowHost& host = m_run.host;
  m_succeeded = false;
  if (s.optionUpdate == 0) m_run.intermediateBoot = 1;
  host.stopProgressTimer();
  host.showBox(kServiceMenuSteps, ui::MessageBoxKind::Stop);
  host.startProgressTimer();
  m_run.state.leftInUpdateMode = true;
  const int32_t result = m_run.session.startFlashUpdate(
      m_run.intermediateBoot, m_run.state.updateExtras, &m_run.state.readBack);
  if (result != 0) {
    noteFailureCode(result);
    if (host.cancelConfirmedAfterFailure()) {
      stopForCancel(m_run);
      return false;
    }
    host.stopProgressTimer();
    sayNextStep(m_run, result);
    // The option, when chosen, is not begun: the line that says so follows the box.
    host.showLastBox("Update processor failed.\nPlease retry", ui::MessageBoxKind::Stop, false,
                     {.failedStepCode = 0, .line = s.optionUpdate != 0 ? kOptionStoppedLine : ""});
    m_processorOk = false;
    return true;
  }
  if (m_run.intermediateBoot == 0) return true;
  addStatusLine(withDevice("Wait until %s is booted"));
  host.stopProgressTimer();
  if (s.optionUpdate == 0) {
    host.showLastBox("Update processor\nsuccessfully completed.\nEXIT update program.",
                     ui::MessageBoxKind::Information, true, {});
    m_succeeded = true;
  } else {
    host.showBox(
        "Wait until ZEL is booted\nand the MEASURE screen\nof ZEL is displayed,\nthen press OK",
        ui::MessageBoxKind::Information);
    host.startProgressTimer();
  }
  return true;
}

void ManualUpdate::prepareOptionByHand() {
  WorkflowHost& host = m_run.host;
  CZel& session = m_run.session;
  reopenAtBootSettings(session);
  host.stopProgressTimer();
  host.showBox(kRemoteSettingsSteps, ui::MessageBoxKind::Information);
  host.startProgressTimer();
  if (m_run.settings.optionKind == kOptionB1) session.powerOnDspB1();
  if (session.isZelInUpdateMode() != 0) return;
  addStatusLine("Set ZEL in update mode");
  if (session.setUpdateModeOn() != 0) {
    setStepStatus(0, 0);
    noteFailureCode(kResultInstrumentNotReached);
    host.stopProgressTimer();
    host.showBox(kRemoteSettingsSteps, ui::MessageBoxKind::Stop);
  } else {
    markOk();
  }
}

void ManualUpdate::updateOption() {
  WorkflowHost& host = m_run.host;
  if (m_run.intermediateBoot != 0) prepareOptionByHand();
  beginOptionProgress(m_run, m_run.intermediateBoot != 0);
  host.startProgressTimer();
  const int32_t result =
      m_run.session.startFlashUpdate(m_run.settings.optionKind, m_run.intermediateBoot);
  noteFailureCode(result);
  if (result == 0) {
    host.stopProgressTimer();
    host.showLastBox("Update of option\nsuccessfully completed.", ui::MessageBoxKind::Information,
                     true, {});
    m_succeeded = true;
  } else if (host.cancelConfirmedAfterFailure()) {
    stopForCancel(m_run);
  } else {
    host.stopProgressTimer();
    host.showLastBox("Update option failed,\nplease retry", ui::MessageBoxKind::Stop);
  }
}
