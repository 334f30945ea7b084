#include "app/update_dlg.h"

#include <algorithm>
#include <cstdio>

#include "app/about_dlg.h"
#include "app/config_dlg.h"
#include "app/dialog_templates.h"
#include "app/port_list.h"
#include "app/workflows/automatic_update.h"
#include "app/workflows/backup_run.h"
#include "app/workflows/manual_update.h"
#include "app/workflows/restore_run.h"
#include "app/workflows/run_steps.h"
#include "app/workflows/workflow_steps.h"
#include "flash/processor_update.h"
#include "flash/programming_link.h"
#include "platform/clock.h"
#include "platform/profile.h"
#include "serial/com_ports.h"
#include "ui/message_box.h"

namespace {

// System commands carry flags in their low four bits.
constexpr int kSysCommandMask = 0xFFF0;

constexpr int kRunControls[] = {kIdcRun, kIdcConfiguration, kIdcExit, kIdcHelp};

}  // namespace

CUpdateDlg::CUpdateDlg(const std::string& programPath)
    : m_iniPath(platform::settingsFilePath(programPath)) {
  m_timerActive = 0;
  m_busyPosition = 0;
  m_transferPercent = 0;
  m_running = 0;
}

CUpdateDlg::~CUpdateDlg() {
  if (m_observing) removeStatusListObserver(this);
}

const ui::DialogTemplate& CUpdateDlg::dialogTemplate() const {
  return updateDialogTemplate();
}

void CUpdateDlg::onInitDialog() {
  ui::DialogWindow& w = *m_window;
  w.appendSystemMenuItem(kIdmAboutBox, kAboutMenuText);
  w.removeSystemMenuClose();
  if (!m_observing) {
    addStatusListObserver(this);
    m_observing = true;
  }
  clearStatusList();
  w.checkRadioButton(kIdcAutomatic, kIdcManual, kIdcAutomatic);
  w.progressSetRange(kIdcBusyBar, 0, kBusyPositions);
  w.progressSetRange(kIdcTransferBar, 0, kTransferBarEnd);

  // The settings file may map COM numbers to other devices before the ports are listed.
  serial::loadComPortMapping(m_iniPath);
  m_session.setIniFile(m_iniPath);
  m_session.readSettings();
  m_serialSettings = SerialSettings{};
  m_serialSettings.portNumber = m_session.m_comm.m_portNo;
  fillPortList();
  w.enable(kIdcConfiguration, false);
  m_updateSettings = UpdateSettings{};
}

void CUpdateDlg::fillPortList() {
  ui::DialogWindow& w = *m_window;
  w.comboReset(kIdcPortList);
  const int sessionPort = m_session.m_comm.m_portNo;
  for (const PortListEntry& entry : buildPortList(sessionPort, m_session.m_comm.isOpen())) {
    const int index = w.comboAdd(kIdcPortList, entry.text);
    w.comboSetItemData(kIdcPortList, index, entry.portNumber);
  }
  const int count = w.comboCount(kIdcPortList);
  int selected = count > 0 ? 0 : -1;
  for (int i = 0; i < count; ++i) {
    if (w.comboItemData(kIdcPortList, i) == sessionPort) {
      selected = i;
      break;
    }
  }
  w.comboSetSelection(kIdcPortList, selected);
}

void CUpdateDlg::refreshPortList() {
  // A run holds its port and waits on its line: the probes of every port would hold it up.
  if (m_running != 0) return;
  fillPortList();
}

void CUpdateDlg::onDevicesChanged() {
  refreshPortList();
}

void CUpdateDlg::onPortSelected() {
  const int selected = m_window->comboSelection(kIdcPortList);
  if (selected < 0) return;
  const int portNumber = static_cast<int>(m_window->comboItemData(kIdcPortList, selected));
  m_serialSettings.portNumber = portNumber;
  m_session.m_comm.m_portNo = std::max(portNumber, 1);
  m_session.open();
}

void CUpdateDlg::onCommand(int controlId, ui::Notification notification) {
  if (controlId == kIdcPortList) {
    // Ports plugged in or removed since the list was filled show when it opens.
    if (notification == ui::Notification::DropDown) refreshPortList();
    if (notification == ui::Notification::SelectionChanged) onPortSelected();
    return;
  }
  if (notification != ui::Notification::Clicked) return;
  switch (controlId) {
    case kIdcManual:
      m_window->enable(kIdcConfiguration, true);
      openConfiguration();
      break;
    case kIdcConfiguration:
      openConfiguration();
      break;
    case kIdcAutomatic:
      m_window->enable(kIdcConfiguration, false);
      break;
    case kIdcExit:
      exitProgram();
      break;
    case kIdcCancel:
      cancel();
      break;
    case kIdcRun:
      run();
      break;
    default:
      break;
  }
}

void CUpdateDlg::onTimer(int timerId) {
  if (timerId != kProgressTimerId || m_progressComplete) return;
  ui::DialogWindow& w = *m_window;
  if (++m_busyPosition >= kBusyPositions) m_busyPosition = 0;
  if (expectedBytes != 0) {
    const uint64_t percent = static_cast<uint64_t>(bytesSent) * 100 / expectedBytes;
    m_transferPercent = static_cast<int16_t>(std::min<uint64_t>(percent, kPercentCap));
  }
  w.progressSetPos(kIdcBusyBar, m_busyPosition);
  w.progressSetPos(kIdcTransferBar, m_transferPercent);
  if (packetErrors != 0) {
    char text[64];
    std::snprintf(text, sizeof text, kPacketCountFormat, static_cast<int>(packetCount));
    w.setText(kIdcPacketCount, text);
    std::snprintf(text, sizeof text, kPacketErrorsFormat, static_cast<int>(packetErrors));
    w.setText(kIdcPacketErrors, text);
    std::snprintf(text, sizeof text, kPacketRetriesFormat, static_cast<int>(packetRetries));
    w.setText(kIdcPacketRetries, text);
  } else {
    w.setText(kIdcPacketCount, "");
    w.setText(kIdcPacketErrors, "");
    w.setText(kIdcPacketRetries, "");
  }
}

void CUpdateDlg::onCancel() {
  if (m_running == 0) m_window->endDialog(ui::kIdCancel);
}

bool CUpdateDlg::onSystemCommand(int command) {
  if (command == ui::kSysCommandTerminateNow) {
    // The program ends when this returns, in the middle of the run: its record, with the
    // lines so far, is written now. The run was cancelled by the first request.
    if (m_running != 0 && !m_recorder.m_written) {
      cancelRequested = 1;
      finishRecord();
    }
    return true;
  }
  if (command == ui::kSysCommandTerminate) {
    // As Cancel answered Yes: the run stops at the engine's next pump and ends with its
    // lines; the dialog ends after it.
    withdrawQuestion();
    if (m_running == 0) {
      m_window->endDialog(ui::kIdCancel);
      return true;
    }
    m_terminating = true;
    m_timerActive = 0;
    stopProgressTimer();
    cancelRequested = 1;
    return true;
  }
  if ((command & kSysCommandMask) == kIdmAboutBox) {
    CAboutDlg about;
    m_window->runModal(about);
    return true;
  }
  // The window cannot be closed from its title bar: Exit ends the program.
  return (command & kSysCommandMask) == ui::kSysCommandClose;
}

void CUpdateDlg::onDestroy() {
  if (m_observing) {
    removeStatusListObserver(this);
    m_observing = false;
  }
  if (m_session.m_comm.isOpen()) m_session.close();
  m_session.writeSettings();
}

void CUpdateDlg::openConfiguration() {
  CConfigDlg dialog(m_serialSettings, m_updateSettings, m_serviceMode);
  if (m_window->runModal(dialog) == ui::kIdOk) {
    m_serialSettings = dialog.m_serialSettings;
    m_updateSettings = dialog.m_updateSettings;
  }
}

void CUpdateDlg::startProgressTimer() {
  m_window->setTimer(kProgressTimerId, kProgressTimerPeriodMs);
}

void CUpdateDlg::stopProgressTimer() {
  m_window->killTimer(kProgressTimerId);
}

void CUpdateDlg::countTimerRunning() {
  m_timerActive = 1;
}

void CUpdateDlg::setExpectedBytes(uint32_t bytes) {
  expectedBytes = bytes;
}

void CUpdateDlg::restartTransferBar() {
  m_transferPercent = 0;
  m_window->progressSetPos(kIdcTransferBar, 0);
}

void CUpdateDlg::completeProgress() {
  m_progressComplete = true;
  m_busyPosition = kBusyPositions;
  m_transferPercent = kTransferBarEnd;
  m_window->progressSetPos(kIdcBusyBar, kBusyPositions);
  m_window->progressSetPos(kIdcTransferBar, kTransferBarEnd);
}

ui::MessageBoxAnswer CUpdateDlg::showBox(const std::string& text, ui::MessageBoxKind kind) {
  // A box of the run supersedes a question still open: the user answers what is shown now.
  withdrawQuestion();
  return ui::messageBox(*m_window, text, kind);
}

ui::MessageBoxAnswer CUpdateDlg::showLastBox(const std::string& text, ui::MessageBoxKind kind,
                                             bool succeeded, const StepsAfterLastBox& after) {
  if (succeeded) {
    m_lastRunSucceeded = true;
    completeProgress();
  }
  if (m_running != 0 && !m_recorder.m_written) finishRecord(after);
  return showBox(text, kind);
}

void CUpdateDlg::run() {
  ui::DialogWindow& w = *m_window;
  for (int id : kRunControls) w.enable(id, false);
  w.enable(kIdcCancel, true);
  resetRunState();
  m_lastRunSucceeded = false;
  m_progressComplete = false;

  m_running = 1;
  m_session.m_comm.m_portNo = std::max(m_serialSettings.portNumber, 1);
  m_session.m_comm.m_writeTimeout = kRunWriteTimeoutMs;

  const bool automatic = w.isChecked(kIdcAutomatic);
  beginRecord(automatic);
  RunContext context = runContext();
  prepareReadBack(context, w.isChecked(kIdcVerify));
  // While a step of the workflow waits for the instrument's answer (the reboot, a silent
  // line), the window is served, and a confirmed cancel ends that wait at once.
  m_session.m_comm.m_waitHook = [] { return pumpMessages() != 0; };
  if (automatic) {
    runAutomaticMode();
  } else {
    runManualUpdate();
  }
  m_session.m_comm.m_waitHook = nullptr;

  if (!w.isChecked(kIdcAutomatic)) w.enable(kIdcConfiguration, true);
  w.enable(kIdcRun, true);
  w.enable(kIdcExit, true);
  w.enable(kIdcHelp, true);
  w.enable(kIdcCancel, false);
  m_timerActive = 0;
  stopProgressTimer();
  withdrawQuestion();
  m_running = 0;
  m_busyPosition = 0;
  m_transferPercent = 0;
  w.progressSetPos(kIdcBusyBar, 0);
  w.progressSetPos(kIdcTransferBar, 0);
  // A run that ended without a box of its own (a refusal by lines alone, a dry run, a failed
  // step) keeps its record now.
  if (!m_recorder.m_written) finishRecord();
  if (m_terminating) w.endDialog(ui::kIdCancel);
}

void CUpdateDlg::runAutomaticMode() {
  m_session.storePortParameter();
  // What the instrument reports is this run's alone: the manual selections stay the
  // configuration dialog's.
  const UpdateSettings manualSelections = m_updateSettings;
  RunContext context = runContext();
  const int result = m_runRequest.backupOnly               ? BackupRun(context).run()
                     : !m_runRequest.restoreFolder.empty() ? RestoreRun(context).run()
                                                           : runAutomaticUpdate();
  // The instrument's own settings are sent back below whether or not it was cancelled.
  m_session.m_comm.m_waitHook = nullptr;
  m_updateSettings = manualSelections;
  if (result == kAutomaticDone &&
      (m_runRequest.backupOnly || !m_runRequest.restoreFolder.empty())) {
    // Their own success box has been shown.
    m_lastRunSucceeded = true;
  } else if (result == kAutomaticDone && m_runRequest.dryRun) {
    // The plan is the dry run's whole result: the instrument was never switched over.
    m_lastRunSucceeded = true;
  } else if (result == kAutomaticDone) {
    stopProgressTimer();
    showLastBox("Update successfully completed.\nEXIT update program.",
                ui::MessageBoxKind::Information, true, {});
  } else if (result == kOptionChecksumMismatch) {
    stopProgressTimer();
    showLastBox("Update option failed,\nplease retry in Manual mode",
                ui::MessageBoxKind::Information);
  }
  m_session.setRs232Parameter();
  m_session.restorePortParameter();
}

RunContext CUpdateDlg::runContext() {
  return RunContext{.host = *this,
                    .session = m_session,
                    .settings = m_updateSettings,
                    .intermediateBoot = m_intermediateBoot,
                    .request = m_runRequest,
                    .state = m_workflow,
                    .record = m_recorder};
}

int CUpdateDlg::runAutomaticUpdate() {
  RunContext context = runContext();
  return AutomaticUpdate(context).run();
}

void CUpdateDlg::runManualUpdate() {
  RunContext context = runContext();
  m_lastRunSucceeded = ManualUpdate(context).run();
}

void CUpdateDlg::beginRecord(bool automatic) {
  m_recorder.begin(automatic, m_runRequest.dryRun, m_session.m_comm.m_portNo);
  m_workflow = WorkflowState{};
  clearFailureCode();
}

void CUpdateDlg::finishRecord(const StepsAfterLastBox& after) {
  RunContext context = runContext();
  noteReadBack(context);
  RunEnd end;
  end.succeeded = m_lastRunSucceeded;
  end.cancelled = cancelRequested != 0;
  end.refused = m_workflow.refused;
  end.refusal = m_workflow.refusal;
  end.portFailure = m_workflow.portFailure;
  end.steps = statusLines();
  end.firstFailure = firstFailureCode();
  if (after.failedStepCode != 0 && !end.steps.empty()) {
    const FailedStep failed = failedStep(after.failedStepCode);
    end.steps.back() = stepStatusLine(end.steps.back(), 0, failed.lineCode);
    if (end.firstFailure == 0) end.firstFailure = failed.recordCode;
  }
  if (!after.line.empty()) end.steps.push_back(after.line);
  end.job = m_workflow.jobRead ? &programmingJob : nullptr;
  end.bytesSent = bytesSent;
  end.packets = packetCount;
  end.packetErrors = packetErrors;
  end.packetRetries = packetRetries;
  m_recorder.finish(end);
}

void CUpdateDlg::cancel() {
  if (m_running != 0) {
    if (m_questionOpen) return;
    if (m_timerActive != 0) {
      m_timerActive = 0;
      stopProgressTimer();
    }
    // The run goes on while the user reads: the target abandons a packet whose echo is late.
    m_questionOpen = true;
    ui::askQuestion(*m_window, kCancelQuestion, [this](ui::MessageBoxAnswer answer) {
      m_questionOpen = false;
      if (m_running == 0) return;
      if (answer == ui::MessageBoxAnswer::Yes) {
        cancelRequested = 1;
      } else {
        startProgressTimer();
        m_timerActive = 1;
      }
    });
    return;
  }
  if (m_timerActive != 0) {
    m_timerActive = 0;
    stopProgressTimer();
  }
  cancelRequested = 1;
}

void CUpdateDlg::exitProgram() {
  if (m_running != 0) {
    if (m_questionOpen) return;
    m_questionOpen = true;
    ui::askQuestion(*m_window, kExitQuestion, [this](ui::MessageBoxAnswer answer) {
      m_questionOpen = false;
      if (answer == ui::MessageBoxAnswer::No || m_running == 0) return;
      // The run on the stack below must not go on programming after the window has gone:
      // it stops at the engine's next message pump as after a confirmed cancel.
      cancelRequested = 1;
      m_window->endDialog(ui::kIdCancel);
      m_session.close();
      stopProgressTimer();
    });
    return;
  }
  m_window->endDialog(ui::kIdCancel);
  m_session.close();
  stopProgressTimer();
}

void CUpdateDlg::withdrawQuestion() {
  if (!m_questionOpen) return;
  m_questionOpen = false;
  m_window->withdrawQuestion();
}

bool CUpdateDlg::cancelConfirmedAfterFailure() {
  constexpr uint32_t kAnswerPollMs = 20;
  while (m_questionOpen && m_running != 0 && cancelRequested == 0) {
    pumpMessages();
    if (m_questionOpen) platform::sleepMs(kAnswerPollMs);
  }
  return cancelRequested != 0;
}

void CUpdateDlg::statusLineAdded(int /*index*/, const std::string& text) {
  if (m_window == nullptr) return;
  ui::DialogWindow& w = *m_window;
  w.listAdd(kIdcStatusList, text);
  const int count = w.listCount(kIdcStatusList);
  w.listSetTopIndex(kIdcStatusList, std::max(count - kStatusLinesInView, 0));
  w.listSetSelection(kIdcStatusList, count - 1);
  w.repaint();
}

void CUpdateDlg::statusLineDeleted(int index) {
  if (m_window != nullptr) m_window->listDelete(kIdcStatusList, index);
}

void CUpdateDlg::statusListCleared() {
  if (m_window != nullptr) m_window->listReset(kIdcStatusList);
}
