// The manual update: the technician prepares the instrument by hand as the boxes say, and
// the configuration dialog's selections stand in for what the automatic mode asks the
// instrument.
#include <cstdio>
#include <string>

#include "app/update_dlg.h"
#include "app/workflow_steps.h"
#include "flash/config/config_writer.h"
#include "flash/processor_update.h"
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

void CUpdateDlg::runManualUpdate() {
  const UpdateSettings& s = m_updateSettings;
  addStatusLine("Manual mode with settings in configuration menu");
  addStatusLine("Create configuration file");
  computeExpectedBytes(0);
  m_timerActive = 1;
  m_recorder.m_record.updated = ServiceRecordUpdated{
      s.processorFirmware != 0, s.optionUpdate != 0 ? optionKindName(s.optionKind) : ""};

  const bool configWritten =
      writeManualConfiguration(m_session.m_comm.m_portNo, manualSelectionsOf(s)) == kConfigWritten;
  setStepStatus(configWritten ? 1 : 0, 0);
  // Without its file a run would program the job of an earlier one.
  if (!configWritten) {
    noteFailureCode(kResultConfigNotWritten);
    m_lastRunSucceeded = false;
    return;
  }
  // Without an update the file is the run's whole work.
  bool succeeded = true;
  // Everything the updates will need is checked before the first instruction to the user.
  const bool anyUpdate = s.processorFirmware != 0 || s.optionUpdate != 0;
  if (anyUpdate &&
      !preflightCheck(s.processorFirmware != 0, s.optionUpdate != 0 ? s.optionKind : kOptionNone)) {
    m_lastRunSucceeded = false;
    return;
  }

  int processorOk = 1;
  if (s.processorFirmware != 0) {
    succeeded = false;
    if (s.optionUpdate == 0) m_intermediateBoot = 1;
    stopProgressTimer();
    showBox(kServiceMenuSteps, ui::MessageBoxKind::Stop);
    startProgressTimer();
    m_leftInUpdateMode = true;
    if (const int32_t result = m_session.startFlashUpdate(m_intermediateBoot); result != 0) {
      noteFailureCode(result);
      if (cancelConfirmedAfterFailure()) {
        stopForCancel();
        m_lastRunSucceeded = false;
        return;
      }
      stopProgressTimer();
      sayNextStep(result);
      // The option, when chosen, is not begun: the line that says so follows the box.
      showLastBox("Update processor failed.\nPlease retry", ui::MessageBoxKind::Stop, false,
                  {.failedStepCode = 0, .line = s.optionUpdate != 0 ? kOptionStoppedLine : ""});
      processorOk = 0;
    } else if (m_intermediateBoot != 0) {
      char line[64];
      std::snprintf(line, sizeof line, "Wait until %s is booted", deviceName);
      addStatusLine(line);
      stopProgressTimer();
      if (s.optionUpdate == 0) {
        showLastBox("Update processor\nsuccessfully completed.\nEXIT update program.",
                    ui::MessageBoxKind::Information, true);
        succeeded = true;
      } else {
        showBox(
            "Wait until ZEL is booted\nand the MEASURE screen\nof ZEL is displayed,\nthen press OK",
            ui::MessageBoxKind::Information);
        startProgressTimer();
      }
    }
  }

  if (s.optionUpdate != 0) {
    succeeded = false;
    if (s.processorFirmware == 0) m_intermediateBoot = 1;
    if (processorOk == 0) {
      addStatusLine(kOptionStoppedLine);
      m_lastRunSucceeded = false;
      return;
    }
    if (cancelRequested != 0) {
      stopForCancel();
      m_lastRunSucceeded = false;
      return;
    }
    if (m_intermediateBoot != 0) {
      reopenAtBootSettings();
      stopProgressTimer();
      showBox(kRemoteSettingsSteps, ui::MessageBoxKind::Information);
      startProgressTimer();
      if (s.optionKind == kOptionB1) m_session.powerOnDspB1();
      if (m_session.isZelInUpdateMode() == 0) {
        addStatusLine("Set ZEL in update mode");
        if (m_session.setUpdateModeOn() != 0) {
          setStepStatus(0, 0);
          noteFailureCode(kResultInstrumentNotReached);
          stopProgressTimer();
          showBox(kRemoteSettingsSteps, ui::MessageBoxKind::Stop);
        } else {
          markOk();
        }
      }
    }
    beginOptionProgress(m_intermediateBoot != 0);
    startProgressTimer();
    const int32_t result = m_session.startFlashUpdate(s.optionKind, m_intermediateBoot);
    noteFailureCode(result);
    if (result == 0) {
      stopProgressTimer();
      showLastBox("Update of option\nsuccessfully completed.", ui::MessageBoxKind::Information,
                  true);
      succeeded = true;
    } else if (cancelConfirmedAfterFailure()) {
      stopForCancel();
    } else {
      stopProgressTimer();
      showLastBox("Update option failed,\nplease retry", ui::MessageBoxKind::Stop);
    }
  }
  m_lastRunSucceeded = succeeded;
}
