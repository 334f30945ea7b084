// CUpdateDlg: the main dialog of the program and the owner of the instrument session.
//
// It shows the status list (mirrored from the program-wide run state into its list box),
// the busy and transfer bars and the packet statistics, and holds the serial and update
// selections that the configuration dialog edits. Run, Cancel and Exit, and the automatic
// and manual workflows that Run performs, are its methods.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/run_record.h"
#include "app/service_record.h"
#include "app/update_settings.h"
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

// Bytes that a processor firmware update moves, by board.
inline constexpr uint32_t kExpectedBytesWithExtension = 0xB0000;
inline constexpr uint32_t kExpectedBytesWithoutExtension = 0x80000;
// The wait for an instrument that boots its new firmware.
inline constexpr int32_t kBootAnswerSeconds = 150;
// The oldest firmware that the automatic mode can update.
inline constexpr int32_t kMinAutomaticSwVersion = 308;
// Up to this version the instrument is booted between processor and option update.
inline constexpr int32_t kLastIntermediateBootVersion = 440;
// Write time-outs: short while probing the line, long for the update.
inline constexpr int32_t kProbeWriteTimeoutMs = 20;
inline constexpr int32_t kRunWriteTimeoutMs = 20000;
inline constexpr int32_t kBootReadTimeoutMs = 5000;

// Results of runAutomaticUpdate besides the option update's codes.
inline constexpr int kAutomaticDone = 0;
inline constexpr int kAutomaticStopped = 1;
inline constexpr int kOptionChecksumMismatch = 2;

inline constexpr const char* kCancelQuestion =
    "If update is running,\ndo not cancel the update.\nCancel?";
inline constexpr const char* kExitQuestion =
    "If update is running,\ndo not exit the program.\nExit anyway?";
inline constexpr const char* kCancelledBox =
    "Update cancelled by the user.\nPlease retry in Manual Mode";
// The backup's and the restore's own advice (%s: the device's name).
inline constexpr const char* kBackupCancelledBox =
    "Backup cancelled by the user.\nThe flash is unchanged.\nSwitch %s off and on before the "
    "next run.";
inline constexpr const char* kBackupFailedBox =
    "Backup failed: the flash is unchanged.\nSwitch %s off and on, then run the backup again.";
inline constexpr const char* kBackupBeforeUpdateFailedBox =
    "Backup before the update failed:\nthe flash is unchanged, nothing was erased.\nSwitch %s "
    "off and on, then retry.";
inline constexpr const char* kRestoreCancelledBox =
    "Restore cancelled by the user.\nThe processor firmware is incomplete.\nSwitch %s off and "
    "on, then run the restore again.";
// The status line after an update's own box when the instrument was left in update mode.
inline constexpr const char* kInterruptedNextStep =
    "Next: switch %s off and on. If it then waits in update mode, its firmware is "
    "incomplete: restore a backup (zelupdate restore DIR) or use the manual mode.";
inline constexpr const char* kBackupNextStep =
    "Next: switch %s off and on; the backup changed nothing in its flash.";
inline constexpr const char* kNoAnswerAfterBootNextStep =
    "Next: switch %s off and on. Its processor firmware is in; an option that was to be "
    "updated is not: update it alone in the manual mode.";
inline constexpr const char* kRestoreCancelledUnchangedBox =
    "Restore cancelled by the user.\nThe flash is unchanged.\nSwitch %s off and on before the "
    "next run.";
inline constexpr const char* kRestoreFailedBox =
    "Restore of the processor firmware failed,\nplease retry.\nSwitch %s off and on, then run "
    "the restore again.";

// Status-list changes that a workflow makes after its last box, as it always has: the
// record, kept before that box, takes them already.
struct StepsAfterLastBox {
  int32_t failedStepCode = 0;  // markFailed(failedStepCode) follows the box; 0: nothing
  std::string line;            // a line added after the box; empty: none
};

class CUpdateDlg : public ui::Dialog, public StatusListObserver {
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
  // A dry run: identify, check and plan the automatic update, never switch the instrument
  // into update mode. m_plan holds the plan's lines when it got that far.
  bool m_dryRun = false;
  std::vector<std::string> m_plan;
  // The run stopped itself before update mode (a refusal, a failed pre-flight check).
  bool m_refused = false;
  // What stopped a refused run, as its stop box said it; empty for none.
  std::string m_refusal;
  // Why the port could not be used, as the status line after the failing step says it
  // ("rfc2217://rack-4:2001: connection refused"); empty where its backend cannot tell.
  std::string m_portFailure;
  // programmingJob holds the job that this run read (and checked: m_jobLoaded).
  bool m_jobRead = false;
  bool m_jobLoaded = false;

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

  // --- workflows ---
  // 0 done, 1 stopped (the reason is in the status list), else the option update's result.
  int runAutomaticUpdate();
  // Its steps after the identification, in the order of their status lines: each returns
  // nothing to go on, or the run's result.
  std::optional<int> createConfigurationFile(uint32_t hw);
  std::optional<int> setInUpdateMode();
  // Tried twice unless cancelled; the second failure's box.
  std::optional<int> updateProcessorFirmware();
  // The reboot into the new firmware, the hardware word compared, and for an instrument
  // without an option a new look for one.
  std::optional<int> waitUntilBooted(uint32_t hw);
  // The reboot that ends the transfer program: the line at the instrument's power-on
  // settings, its answer awaited (710 without one, the cancel box on a cancel) and its
  // version kept for the record.
  std::optional<int> awaitReboot();
  std::optional<int> findOptionAfterUpdate();
  // The option's DSP firmware, where one is fitted: the option update's result.
  int updateOption();
  void runManualUpdate();

  // --- helpers of the workflows ---
  void selectOptionKind(uint32_t hw);
  void computeExpectedBytes(uint32_t hw);
  // The option's phase: its DSP image and, when the target is `prepared` anew (after a boot),
  // the loader and the transfer program.
  void computeExpectedOptionBytes(bool prepared);
  static uint32_t fileSizeOf(const std::string& name);
  static int fileExists(const std::string& name);
  void reopenAtBootSettings();
  // 1 when hw has a memory extension bit (line added), else the two refusal lines and 0.
  int checkMemoryExtension(uint32_t hw);
  // 1 when the version can be updated automatically (version line added), else the stop
  // box and 0.
  int checkSoftwareVersion();
  // Compares the session's hardware word with the one seen before the update: 0 when
  // equal; else the timer is stopped, the missing option reported and 1 returned.
  int checkHardwareAfterUpdate(uint32_t expected);

  // The run stops because the user cancelled it: timer stopped, the cancel box shown.
  // Returns kAutomaticStopped.
  int stopForCancel();
  // Waits while the cancel question is open: a failure that came while the user read it is
  // not followed by more work on the instrument before the answer.
  bool cancelConfirmedAfterFailure();
  // Before the instrument is switched into update mode: the job just written is read and
  // checked as the processor update will, its images must fit the flash it erases when
  // the processor firmware is updated, and the option image of the run must be a non-empty
  // regular file. False after the failure's lines and its stop box.
  bool preflightCheck(bool processorUpdate, int32_t optionKind,
                      const char* configFile = kProgrammingConfigFile);
  // The run stops before update mode: the reason kept for the record and shown in a stop
  // box, the progress timer stopped, then the line of `after` added. Returns false.
  bool refuse(const std::string& reason, const StepsAfterLastBox& after = {});
  // The service record: started by Run, the instrument noted when identified, finished and
  // handed over once, when the run's outcome is known: before its last box, else when Run
  // ends.
  void beginRecord(bool automatic);
  void noteIdentification();
  void finishRecord(const StepsAfterLastBox& after = {});
  // The dry run's end: the job written to a temporary file, read and checked, and the plan.
  // False when the run stops (its lines and box shown).
  bool planDryRun(uint32_t hw);

  // --- read back, backup and restore (app/flash_backup_workflows.cpp) ---
  // Verify: the check box's state when Run was clicked (a restore always verifies).
  bool m_verify = false;
  // The flash areas that the update erases are saved here first; empty: no backup.
  std::string m_backupFolder;
  // The backup alone: read into m_backupFolder, boot the instrument unchanged.
  bool m_backupOnly = false;
  // A restore from this backup folder; m_restoreForce also onto another instrument.
  std::string m_restoreFolder;
  bool m_restoreForce = false;
  bool m_backupWritten = false;
  // The instrument has been switched into update mode and has not come back from it: a run
  // that ends now says what to do next.
  bool m_leftInUpdateMode = false;
  // The next step after an update that ended with the instrument in update mode.
  void sayNextStep(int32_t code, int32_t earlierCode = 0);
  // Sets up the engine's read back and backup for the Run that starts.
  void prepareReadBack();
  // The Run's keys verify, differences, backup and restore into the record.
  void noteReadBack();
  // A question to the technician that a request to end answers No.
  bool confirmed(const std::string& question);
  // The backup command's and the restore command's runs; results as runAutomaticUpdate.
  int runBackupOnly();
  int runRestore();
  // Identification of the instrument as the automatic update starts it; false after its
  // failure lines.
  bool connectAndIdentify();
  // After a step whose port would not open: the line that names the cause the port's backend
  // found, kept for the record; empty where it cannot tell. The caller adds the line.
  std::string notePortFailure();

  // The open question is taken away unanswered.
  void withdrawQuestion();

  void startProgressTimer();
  void stopProgressTimer();
  // The option update is a phase of its own: the transfer bar starts again from 0 on the
  // option's scale, the bytes so far counted into the record.
  void beginOptionProgress(bool prepared);
  // The run succeeded: both bars at their end (the transfer bar last), whatever the expected
  // bytes guessed.
  void completeProgress();
  // A box through the message box observers.
  ui::MessageBoxAnswer showBox(const std::string& text, ui::MessageBoxKind kind);
  // The run's last box. Its outcome is known: the record is finished and handed over before
  // the box is shown, so that a program closed or killed while the box waits has kept it.
  // `succeeded`: the run ends with its success message.
  ui::MessageBoxAnswer showLastBox(const std::string& text, ui::MessageBoxKind kind,
                                   bool succeeded = false, const StepsAfterLastBox& after = {});

  // --- status list mirror ---
  void statusLineAdded(int index, const std::string& text) override;
  void statusLineDeleted(int index) override;
  void statusListCleared() override;

 private:
  bool m_observing = false;
};
