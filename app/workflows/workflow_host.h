// What a workflow of Run (automatic, manual, backup, restore) works on: the window or console
// that shows it (WorkflowHost), what the Run was asked to do (RunRequest), what it found on its
// way (WorkflowState), and the session, selections and record it borrows (RunContext).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/run_record.h"
#include "app/update_settings.h"
#include "flash/processor_update.h"
#include "instrument/zel.h"
#include "ui/dialog_host.h"

// Bytes that a processor firmware update moves, by board.
inline constexpr uint32_t kExpectedBytesWithExtension = 0xB0000;
inline constexpr uint32_t kExpectedBytesWithoutExtension = 0x80000;
// The wait for an instrument that boots its new firmware.
inline constexpr int32_t kBootAnswerSeconds = 150;
// Write time-outs: short while probing the line, long for the update.
inline constexpr int32_t kProbeWriteTimeoutMs = 20;
inline constexpr int32_t kRunWriteTimeoutMs = 20000;
inline constexpr int32_t kBootReadTimeoutMs = 5000;

// Results of runAutomaticUpdate besides the option update's codes.
inline constexpr int kAutomaticDone = 0;
inline constexpr int kAutomaticStopped = 1;
inline constexpr int kOptionChecksumMismatch = 2;

inline constexpr const char* kCancelledBox =
    "Update cancelled by the user.\nPlease retry in Manual Mode";

// Status-list changes that a workflow makes after its last box, as it always has: the
// record, kept before that box, takes them already.
struct StepsAfterLastBox {
  int32_t failedStepCode = 0;  // markFailed(failedStepCode) follows the box; 0: nothing
  std::string line;            // a line added after the box; empty: none
};

// What a workflow asks of whatever shows the Run: the main dialog in a window or on the
// console, or a test's stand-in. The status list is the program-wide one.
class WorkflowHost {
 public:
  virtual ~WorkflowHost() = default;
  // The progress timer that moves the bars.
  virtual void startProgressTimer() = 0;
  virtual void stopProgressTimer() = 0;
  // From now on the run counts the timer as running: Cancel stops it while it asks.
  virtual void countTimerRunning() = 0;
  // The transfer bar's full scale for the phase that begins now.
  virtual void setExpectedBytes(uint32_t bytes) = 0;
  // A phase of its own begins (the option's): the transfer bar starts again from 0.
  virtual void restartTransferBar() = 0;
  // A box of the run, and the run's last box: its outcome is known, so the record is
  // finished and handed over before the box is shown. `succeeded`: the run ends with its
  // success message.
  virtual ui::MessageBoxAnswer showBox(const std::string& text, ui::MessageBoxKind kind) = 0;
  virtual ui::MessageBoxAnswer showLastBox(const std::string& text, ui::MessageBoxKind kind,
                                           bool succeeded, const StepsAfterLastBox& after) = 0;
  // Waits while the cancel question is open: a failure that came while the user read it is
  // not followed by more work on the instrument before the answer. True when cancelled.
  virtual bool cancelConfirmedAfterFailure() = 0;

  ui::MessageBoxAnswer showLastBox(const std::string& text, ui::MessageBoxKind kind) {
    return showLastBox(text, kind, false, {});
  }
};

// What the Run was asked to do besides its mode (the command line sets it before Run).
struct RunRequest {
  // A dry run: identify, check and plan the automatic update, never switch the instrument
  // into update mode.
  bool dryRun = false;
  // The flash areas that the update erases are saved here first; empty: no backup.
  std::string backupFolder;
  // The backup alone: read into backupFolder, boot the instrument unchanged.
  bool backupOnly = false;
  // A restore from this backup folder; restoreForce also onto another instrument.
  std::string restoreFolder;
  bool restoreForce = false;
};

// What a Run found out on its way, for its record and for what it says at its end. A new
// Run starts it afresh.
struct WorkflowState {
  // The read back runs: the Verify box's state when Run was clicked (a restore always).
  bool verify = false;
  // The dry run's plan, when it got that far.
  std::vector<std::string> plan;
  // The run stopped itself before update mode (a refusal, a failed pre-flight check), and
  // what stopped it as its stop box said it; empty for none.
  bool refused = false;
  std::string refusal;
  // Why the port could not be used, as the status line after the failing step says it
  // ("rfc2217://rack-4:2001: connection refused"); empty where its backend cannot tell.
  std::string portFailure;
  // programmingJob holds the job that this run read (and checked: jobLoaded).
  bool jobRead = false;
  bool jobLoaded = false;
  bool backupWritten = false;
  // The instrument has been switched into update mode and has not come back from it: a run
  // that ends now says what to do next.
  bool leftInUpdateMode = false;
  // The processor update's read back and backup for this Run, and what its read back found.
  ProcessorUpdateExtras updateExtras;
  ReadBackReport readBack;
};

// Everything a workflow acts on, borrowed from the dialog (or a test) for one Run.
struct RunContext {
  WorkflowHost& host;
  CZel& session;
  UpdateSettings& settings;
  // 1: the instrument is booted between processor and option update (set by the workflows).
  int& intermediateBoot;
  const RunRequest& request;
  WorkflowState& state;
  CRunRecorder& record;
};
