// CUpdateDlg: the main dialog of the program and the owner of the instrument session.
//
// It shows the status list (mirrored from the program-wide run state into its list box),
// the busy and transfer bars and the packet statistics, and holds the serial and update
// selections that the configuration dialog edits. Run, Cancel and Exit are its handlers;
// the workflows that Run performs (app/workflows/) act on it through WorkflowHost.
#pragma once

#include <cstdint>
#include <string>

#include "app/run_record.h"
#include "app/service_record.h"
#include "app/update_settings.h"
#include "app/workflows/workflow_host.h"
#include "instrument/zel.h"
#include "run/run_progress.h"
#include "run/run_state.h"
#include "ui/dialog_host.h"

// Texts of the main dialog's progress display.
inline constexpr const char* kPacketCountFormat = "Pkt-Count:\t %5i";
inline constexpr const char* kPacketErrorsFormat = "Pkt-Errors:\t%5i";
inline constexpr const char* kPacketRetriesFormat = "Pkt-Retrys:\t%5i";
inline constexpr int16_t kBusyPositions = 100;
inline constexpr int16_t kTransferBarEnd = 100;
// Lines of the status list in view.
inline constexpr int kStatusLinesInView = 6;

inline constexpr const char* kCancelQuestion =
    "If update is running,\ndo not cancel the update.\nCancel?";
inline constexpr const char* kExitQuestion =
    "If update is running,\ndo not exit the program.\nExit anyway?";

class CUpdateDlg : public ui::Dialog, public StatusListObserver, public WorkflowHost {
 public:
  explicit CUpdateDlg(const std::string& programPath);
  ~CUpdateDlg() override;

  int m_serviceMode = 1;
  int m_running = 0;
  int m_intermediateBoot = 0;
  SerialSettings m_serialSettings;
  UpdateSettings m_updateSettings;
  std::string m_iniPath;
  CZel m_session;
  int m_timerActive = 0;
  int16_t m_busyPosition = 0;
  int16_t m_transferPercent = 0;
  // The bytes the current phase (the processor's, the option's) is expected to move: the
  // transfer bar's full scale.
  uint32_t expectedBytes = 0;
  // The run succeeded: the bars stand at their end; ticks no longer move them.
  bool m_progressComplete = false;
  // True when the last Run ended with its success message (a manual run that updates
  // nothing: when the configuration file was written). The console's exit status.
  bool m_lastRunSucceeded = false;
  // The Cancel or Exit question is open; its answer arrives while the run goes on.
  bool m_questionOpen = false;
  // The program was asked to end: the run stops at its next pump, the dialog after it.
  bool m_terminating = false;

  // --- service record ---
  // The record of the Run in progress, or of the last one, and where it goes.
  CRunRecorder m_recorder;
  // What the next Run is asked to do besides its mode (dry run, backup, restore), and what
  // the last one found (the dry run's plan, the read back, why it stopped).
  RunRequest m_runRequest;
  WorkflowState m_workflow;

  // --- window events ---
  const ui::DialogTemplate& dialogTemplate() const override;
  void onInitDialog() override;
  void onCommand(int controlId, ui::Notification notification) override;
  void onTimer(int timerId) override;
  void onDevicesChanged() override;
  // Escape: ends the dialog only while no run is active.
  void onCancel() override;
  bool onSystemCommand(int command) override;
  void onDestroy() override;

  // --- buttons ---
  void run();
  void cancel();
  void exitProgram();
  // The configuration dialog with copies of both records; OK takes them back.
  void openConfiguration();
  // The ports as they are now, the session's port selected (entry 0 when it is not among
  // them: the session keeps its port, which is selected again once it is back).
  void fillPortList();
  // fillPortList again when the list opens or a device came or went, except during a run.
  void refreshPortList();
  void onPortSelected();

  // --- workflows (app/workflows/) ---
  // 0 done, 1 stopped (the reason is in the status list), else the option update's result.
  int runAutomaticUpdate();
  void runManualUpdate();
  // What the workflows act on: this dialog as their host, its session, selections, request,
  // state and record.
  RunContext runContext();

  // --- what the workflows ask of the dialog (WorkflowHost) ---
  void startProgressTimer() override;
  void stopProgressTimer() override;
  void countTimerRunning() override;
  void setExpectedBytes(uint32_t bytes) override;
  void restartTransferBar() override;
  // A box through the message box observers.
  ui::MessageBoxAnswer showBox(const std::string& text, ui::MessageBoxKind kind) override;
  // The run's last box. Its outcome is known: the record is finished and handed over before
  // the box is shown, so that a program closed or killed while the box waits has kept it.
  using WorkflowHost::showLastBox;
  ui::MessageBoxAnswer showLastBox(const std::string& text, ui::MessageBoxKind kind, bool succeeded,
                                   const StepsAfterLastBox& after) override;
  bool cancelConfirmedAfterFailure() override;

  // --- status list mirror ---
  void statusLineAdded(int index, const std::string& text) override;
  void statusLineDeleted(int index) override;
  void statusListCleared() override;

 private:
  // The service record: started by Run, finished and handed over once, when the run's
  // outcome is known: before its last box, else when Run ends.
  void beginRecord(bool automatic);
  void finishRecord(const StepsAfterLastBox& after = {});
  // The automatic mode's Run: the workflow the request asks for, and its final box.
  void runAutomaticMode();
  // The run succeeded: both bars at their end (the transfer bar last), whatever the expected
  // bytes guessed.
  void completeProgress();
  // The open question is taken away unanswered.
  void withdrawQuestion();

  bool m_observing = false;
};
