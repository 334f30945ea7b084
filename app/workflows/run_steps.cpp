#include "app/workflows/run_steps.h"

#include <cstring>
#include <string_view>

#include "app/flash_backup.h"
#include "app/port_access.h"
#include "app/update_set_folder.h"
#include "app/workflows/workflow_steps.h"
#include "dsp/dsp_programming.h"
#include "flash/config/config_check.h"
#include "flash/programming_link.h"
#include "flash/read_back.h"
#include "flash/result_codes.h"
#include "flash/result_meaning.h"
#include "flash/target_commands.h"
#include "platform/host_files.h"
#include "platform/whole_file.h"
#include "run/run_state.h"
#include "serial/com_ports.h"

namespace {

// The advice after a cancel or a failure that the shared steps give (%s: the device's name).
constexpr const char* kBackupCancelledBox =
    "Backup cancelled by the user.\nThe flash is unchanged.\nSwitch %s off and on before the "
    "next run.";
constexpr const char* kRestoreCancelledBox =
    "Restore cancelled by the user.\nThe processor firmware is incomplete.\nSwitch %s off and "
    "on, then run the restore again.";
// The status line after an update's own box when the instrument was left in update mode.
constexpr const char* kInterruptedNextStep =
    "Next: switch %s off and on. If it then waits in update mode, its firmware is "
    "incomplete: restore a backup (zelupdate restore DIR) or use the manual mode.";
constexpr const char* kBackupNextStep =
    "Next: switch %s off and on; the backup changed nothing in its flash.";
constexpr const char* kNoAnswerAfterBootNextStep =
    "Next: switch %s off and on. Its processor firmware is in; an option that was to be "
    "updated is not: update it alone in the manual mode.";
constexpr const char* kRestoreCancelledUnchangedBox =
    "Restore cancelled by the user.\nThe flash is unchanged.\nSwitch %s off and on before the "
    "next run.";

// The end of the check's message about an update file that is missing or empty
// ("Bootstraploader ROMWRITE.URL not accessible").
constexpr std::string_view kNotAccessible = " not accessible";

// After the box about an update file that could not be read: where it was looked for.
StepsAfterLastBox folderLookedIn() {
  return {.failedStepCode = 0, .line = "Update files looked for in " + currentFolderText()};
}

// A failure of the line rather than of the flash: a packet that never got through, at any
// stage of a chunk.
bool lineLost(int32_t code) {
  ChunkStage stage{};
  int32_t base = code;
  if (decodeProgramDataCode(code, stage, base)) code = base;
  UnacknowledgedPacket packet;
  return decodeUnacknowledgedPacket(code, packet) || code == kResultAnswerIncomplete ||
         code == kResultAnswerChecksum || code == kResultPortNotOpened;
}

// The status list shows that the processor flash was being erased or programmed and the
// update did not complete: the firmware is incomplete.
bool flashLeftIncomplete() {
  bool erased = false;
  for (const std::string& line : statusLines()) {
    // The step's line, whatever its mark ("OK    ", "ERROR ", a code after it).
    if (line.find("Delete flash") != std::string::npos) erased = true;
    if (line.find("Update processor firmware completed") != std::string::npos) erased = false;
  }
  return erased;
}

// The backup's folder must take the areas that the job erases.
bool backupFolderTakesAreas(RunContext& run) {
  const std::string problem =
      backupDestinationProblem(run.request.backupFolder, programmingJob.erasedBytes());
  if (problem.empty()) return true;
  addStatusLine("ERROR - backup: " + problem);
  noteFailureCode(kResultBackupWrite);
  return refuse(run, "Backup refused:\n" + problem);
}

// The option update opens the image only after the instrument has been prepared: an image
// that is missing, empty or no file at all must be found now.
bool optionImageReadable(RunContext& run, int32_t optionKind) {
  const char* image = optionImageFile(optionKind);
  if (image == nullptr) return true;
  const std::string path = platform::resolveHostFile(image);
  uint64_t bytes = 0;
  platform::FileReader reader;
  if (platform::regularFileSize(path, bytes) && bytes > 0 && reader.open(path)) return true;
  addStatusLine("ERROR - DSP file could not be opened");
  noteFailureCode(kResultDspFailed);
  return refuse(run, std::string("DSP file ") + image + " not accessible", folderLookedIn());
}

// The processor flash's bytes once more for each read of it besides the programming.
uint32_t withReadsOfFlash(uint32_t bytes, const RunContext& run) {
  return bytes + bytes * ((run.state.verify ? 1 : 0) + (run.request.backupFolder.empty() ? 0 : 1));
}

}  // namespace

bool connectAndIdentify(RunContext& run) {
  CZel& session = run.session;
  CComm& port = session.m_comm;
  addStatusLine(withDevice("Autoconnect with %s"));
  port.m_writeTimeout = kProbeWriteTimeoutMs;
  if (session.autoConnect() == 0) {
    // The step's ERROR mark has always followed the box, and the port's cause follows it;
    // the record, kept before the box, has both.
    const std::string cause = notePortFailure(run);
    run.host.showLastBox(withDevice("ERROR -\ncheck RS232 cable,\ncheck %s on,\ncheck COM port."),
                         ui::MessageBoxKind::Stop, false,
                         {.failedStepCode = kResultInstrumentNotReached, .line = cause});
    markFailed(kResultInstrumentNotReached);
    if (!cause.empty()) addStatusLine(cause);
    session.restorePortParameter();
    return false;
  }
  markOk();
  port.m_writeTimeout = kRunWriteTimeoutMs;

  // The instrument's own settings are sent back when the run ends; the update itself
  // talks at 9600 8N1. Neither failure stops the run.
  if (session.getRs232Parameter() != 0) addStatusLine("ERROR Get Zel RS232-Parameter");
  if (session.setDefaultRs232Parameter() != 0) {
    addStatusLine("ERROR Set RS232-Parameter after Autoconnect");
  }

  addStatusLine("Get SW/HW info");
  if (session.read_SwVersion() == 1) {
    markFailed(kResultInstrumentNotReached);
    return false;
  }
  markOk();
  run.record.identified(session.idnString, static_cast<uint32_t>(session.hwInfo),
                        session.m_boardNumber);
  return true;
}

std::string notePortFailure(RunContext& run) {
  if (cancelRequested != 0) return std::string();
  const CComm& port = run.session.m_comm;
  run.state.portFailure = portFailureLine(serial::comPortDevice(port.m_portNo), port.openFailure());
  return run.state.portFailure;
}

std::optional<int> createAutomaticJob(RunContext& run, uint32_t hw, bool optionUpdate,
                                      int32_t optionKind) {
  addStatusLine("Create configuration file");
  if (writeAutomaticConfiguration(hw, optionUpdate, run.session.m_comm.m_portNo) ==
      kConfigNotCreated) {
    markFailed(kResultConfigNotWritten);
    return kAutomaticStopped;
  }
  markOk();
  // Nothing that would fail later may leave the instrument in update mode for nothing.
  if (!preflightCheck(run, true, optionKind)) return kAutomaticStopped;
  return std::nullopt;
}

bool preflightCheck(RunContext& run, bool processorUpdate, int32_t optionKind,
                    const char* configFile) {
  WorkflowState& state = run.state;
  std::string message;
  const int32_t loaded = loadUpdateJob(configFile, message);
  state.jobLoaded = loaded == 0;
  // A job that fails its check was read: the record lists the files it names.
  state.jobRead = state.jobLoaded || loaded == kCheckJobInvalid;
  if (!state.jobLoaded) {
    const bool missingFile = message.ends_with(kNotAccessible);
    return refuse(run, message, missingFile ? folderLookedIn() : StepsAfterLastBox{});
  }
  // The processor update erases the job's areas before it programs: an image that runs
  // past them would leave the instrument erased for nothing.
  // (A backup alone programs nothing: its images need not fit.)
  if (processorUpdate && !run.request.backupOnly &&
      checkProgramsFitErasedFlash(programmingJob, message) != kCheckOk) {
    addStatusLine("ERROR - program file does not fit: update aborted");
    noteFailureCode(kCheckProgramNotErased);
    return refuse(run, message);
  }
  // The backup is read in update mode: a folder that cannot take it is said before.
  if (processorUpdate && !run.request.backupFolder.empty() && !backupFolderTakesAreas(run)) {
    return false;
  }
  return optionImageReadable(run, optionKind);
}

bool refuse(RunContext& run, const std::string& reason, const StepsAfterLastBox& after) {
  run.state.refused = true;
  run.state.refusal = reason;
  run.host.stopProgressTimer();
  run.host.showLastBox(reason, ui::MessageBoxKind::Stop, false, after);
  if (!after.line.empty()) addStatusLine(after.line);
  return false;
}

std::optional<int> setInUpdateMode(RunContext& run) {
  addStatusLine(withDevice("Set %s in update mode"));
  if (run.session.setUpdateModeOn() != 0) {
    markFailed(kResultInstrumentNotReached);
    return kAutomaticStopped;
  }
  markOk();
  run.state.leftInUpdateMode = true;
  return std::nullopt;
}

void reopenAtBootSettings(CZel& session) {
  CComm& port = session.m_comm;
  port.m_readTimeout = kBootReadTimeoutMs;
  port.m_baudRate = 9600;
  port.m_parity = 0;
  port.m_handshake = 2;  // XON/XOFF
  session.open();
}

std::optional<int> awaitReboot(RunContext& run) {
  reopenAtBootSettings(run.session);
  addStatusLine(withDevice("Wait until %s is booted"));
  if (run.session.getDeviceAnswer(kBootAnswerSeconds) != 0) {
    setStepStatus(0, cancelRequested != 0 ? kResultCancelled : kResultNoAnswerAfterBoot);
    noteFailureCode(cancelRequested != 0 ? kResultCancelled : kResultNoAnswerAfterBoot);
    if (cancelRequested != 0) return stopForCancel(run);
    // No box of its own: the line says what to do.
    if (run.request.backupOnly || !run.request.restoreFolder.empty()) {
      sayNextStep(run, kResultNoAnswerAfterBoot);
    } else {
      addStatusLine(withDevice(kNoAnswerAfterBootNextStep));
    }
    return kAutomaticStopped;
  }
  markOk();
  run.state.leftInUpdateMode = false;
  if (cancelRequested != 0) return stopForCancel(run);
  run.record.noteVersionAfter(run.session.idnString);
  return std::nullopt;
}

int stopForCancel(RunContext& run) {
  noteFailureCode(kResultCancelled);
  run.host.stopProgressTimer();
  // The backup alone changes nothing; a restore has begun to erase and program. Their boxes
  // say what to do next; after an update's own box the line says it, written before the box
  // so that the record has it.
  const char* box =
      run.request.backupOnly ? kBackupCancelledBox
      : !run.request.restoreFolder.empty()
          ? (flashLeftIncomplete() ? kRestoreCancelledBox : kRestoreCancelledUnchangedBox)
          : kCancelledBox;
  if (box == kCancelledBox) sayNextStep(run, kResultCancelled);
  run.host.showLastBox(box == kCancelledBox ? std::string(box) : withDevice(box),
                       ui::MessageBoxKind::Stop);
  return kAutomaticStopped;
}

void sayNextStep(RunContext& run, int32_t code, int32_t earlierCode) {
  if (!run.state.leftInUpdateMode) return;
  if (run.request.backupOnly) {
    addStatusLine(withDevice(kBackupNextStep));
    return;
  }
  // A failure of the flash itself has the update's own box; an update interrupted while the
  // flash was incomplete (a cancel, a line that went dead) leaves it waiting in update mode.
  const bool interrupted = cancelRequested != 0 || lineLost(code) || lineLost(earlierCode);
  if (interrupted && flashLeftIncomplete()) addStatusLine(withDevice(kInterruptedNextStep));
}

bool confirmed(RunContext& run, const std::string& question) {
  if (run.host.showBox(question, ui::MessageBoxKind::Question) != ui::MessageBoxAnswer::Yes) {
    return false;
  }
  // A request to end that came while the question waited answered it as without a terminal:
  // it is served now, before anything is sent.
  pumpMessages();
  return cancelRequested == 0;
}

void prepareReadBack(RunContext& run, bool verifyChecked) {
  WorkflowState& state = run.state;
  // A restore always proves what it wrote.
  state.verify = verifyChecked || !run.request.restoreFolder.empty();
  state.backupWritten = false;
  state.updateExtras = ProcessorUpdateExtras{};
  state.readBack = ReadBackReport{};
  if (run.request.dryRun) return;
  state.updateExtras.verify = state.verify;
  if (run.request.backupFolder.empty()) return;
  // The dialog's request, state and record outlive every Run that calls this.
  const RunRequest& request = run.request;
  CRunRecorder& record = run.record;
  state.updateExtras.beforeErase = [&request, &state, &record](CComm& port) -> int32_t {
    // The second try of an update keeps the backup that the first one took.
    if (state.backupWritten) return kResultOk;
    if (const std::string problem = backupFolderProblem(request.backupFolder); !problem.empty()) {
      addStatusLine("ERROR - backup: " + problem);
      return kResultBackupWrite;
    }
    const int32_t result = writeBackup(request.backupFolder, record.instrument(), port);
    state.backupWritten = result == kResultOk;
    return result;
  };
}

void noteReadBack(RunContext& run) {
  const WorkflowState& state = run.state;
  if (state.verify && !run.request.backupOnly) {
    const ReadBackReport& report = state.readBack;
    if (!report.differences.empty()) {
      run.record.noteVerify("differs", report.differences);
    } else {
      run.record.noteVerify(report.verified ? "ok" : "");  // "": not reached (null)
    }
  }
  run.record.noteBackupAndRestore(state.backupWritten ? run.request.backupFolder : "",
                                  run.request.restoreFolder);
}

uint32_t fileSizeOf(const std::string& name) {
  uint64_t bytes = 0;
  if (!platform::regularFileSize(platform::resolveHostFile(name), bytes)) return 0;
  return static_cast<uint32_t>(bytes);
}

uint32_t automaticExpectedBytes(uint32_t hw, const RunContext& run) {
  return withReadsOfFlash(
      (hw & kHwMemoryExtension) ? kExpectedBytesWithExtension : kExpectedBytesWithoutExtension,
      run);
}

uint32_t manualExpectedBytes(const UpdateSettings& settings, const RunContext& run) {
  if (settings.processorFirmware == 0) return 0;
  return withReadsOfFlash(
      settings.memoryExtension != 0 ? kExpectedBytesWithExtension : kExpectedBytesWithoutExtension,
      run);
}

uint32_t optionPhaseBytes(int32_t optionKind, bool prepared) {
  const char* image = optionImageFile(optionKind);
  if (image == nullptr) return 0;
  uint64_t bytes = dspProgrammingHostBytes(fileSizeOf(image));
  // The files of the job read for this run (its option job names the same).
  const auto named = [](const char* file) {
    return file[0] != '\0' && std::strcmp(file, kNoFile) != 0;
  };
  const ProgrammingJob& job = programmingJob;
  if (prepared && named(job.bootstrapLoaderFile)) bytes += kLoaderDownloadBytes;
  if (prepared && named(job.transferFile)) bytes += fileDownloadBytes(fileSizeOf(job.transferFile));
  return static_cast<uint32_t>(bytes);
}

void beginOptionProgress(RunContext& run, bool prepared) {
  run.record.carryBytes(bytesSent);
  bytesSent = 0;
  run.host.restartTransferBar();
  run.host.setExpectedBytes(optionPhaseBytes(run.settings.optionKind, prepared));
}

uint32_t readTrafficBytes(uint64_t bytes) {
  return static_cast<uint32_t>(bytes + bytes / kUploadChunkSize * 16);
}
