// The automatic update: find the instrument, identify it, refuse what cannot be updated
// this way, write the programming job for its hardware, update the processor firmware and,
// where an option is fitted, the option's DSP firmware.
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "app/dialog_templates.h"
#include "app/flash_backup.h"
#include "app/port_access.h"
#include "app/run_record.h"
#include "app/update_dlg.h"
#include "app/update_set_folder.h"
#include "app/workflow_steps.h"
#include "dsp/dsp_programming.h"
#include "flash/config/config_check.h"
#include "flash/config/config_writer.h"
#include "flash/processor_update.h"
#include "flash/result_codes.h"
#include "flash/target_commands.h"
#include "platform/host_files.h"
#include "platform/whole_file.h"
#include "serial/com_ports.h"

namespace {

constexpr uint32_t kHwB1 = kHwOptionB1;
constexpr uint32_t kHwB10 = kHwOptionB10;
constexpr uint32_t kHwB20 = kHwOptionB20;

// Characters of the identification answer that hold the version ("04.40").
constexpr size_t kVersionTextLength = 5;

// An option that the hardware word lost, by its bit: the status line and the box.
struct LostOption {
  uint32_t bit;
  const char* line;
  const char* box;
};
constexpr LostOption kLostOptions[] = {
    {kHwB1, "ERROR - B1 not detected",
     "Error - B1 not detected.\nProcessor Hardware update failed.\nPlease retry in Manual Mode."},
    {kHwB10, "ERROR - B10 not detected",
     "Error - B10 not detected.\nProcessor Hardware update failed\nPlease retry in Manual Mode"},
    {kHwB20, "ERROR - B20 not detected",
     "Error - B20 not detected.\nProcessor Hardware update failed.\nPlease retry in Manual Mode."},
};
constexpr const char* kLostUnknownOption =
    "ERROR - Bxx not detected.\nProcessor Hardware update failed.\nPlease retry in Manual Mode.";

// The end of the check's message about an update file that is missing or empty
// ("Bootstraploader ROMWRITE.URL not accessible").
constexpr std::string_view kNotAccessible = " not accessible";

// After the box about an update file that could not be read: where it was looked for.
StepsAfterLastBox folderLookedIn() {
  return {.failedStepCode = 0, .line = "Update files looked for in " + currentFolderText()};
}

}  // namespace

void CUpdateDlg::selectOptionKind(uint32_t hw) {
  int32_t kind = kOptionNone;
  if (hw & kHwB1) {
    kind = kOptionB1;
  } else if (hw & kHwB10) {
    kind = kOptionB10;
  } else if (hw & kHwB20) {
    kind = kOptionB20;
  }
  m_updateSettings.optionKind = kind;
}

void CUpdateDlg::computeExpectedBytes(uint32_t hw) {
  const UpdateSettings& s = m_updateSettings;
  if (m_window->isChecked(kIdcAutomatic)) {
    expectedBytes =
        (hw & kHwMemoryExtension) ? kExpectedBytesWithExtension : kExpectedBytesWithoutExtension;
  } else {
    expectedBytes = 0;
    if (s.processorFirmware != 0) {
      expectedBytes +=
          s.memoryExtension != 0 ? kExpectedBytesWithExtension : kExpectedBytesWithoutExtension;
    }
  }
  // A read back and a backup move the processor flash's bytes once more each. The option's
  // image has a phase and a scale of its own.
  expectedBytes += expectedBytes * ((m_verify ? 1 : 0) + (m_backupFolder.empty() ? 0 : 1));
}

void CUpdateDlg::computeExpectedOptionBytes(bool prepared) {
  expectedBytes = 0;
  const char* image = optionImageFile(m_updateSettings.optionKind);
  if (image == nullptr) return;
  uint64_t bytes = dspProgrammingHostBytes(fileSizeOf(image));
  // The files of the job read for this run (its option job names the same).
  const auto named = [](const char* file) {
    return file[0] != '\0' && std::strcmp(file, kNoFile) != 0;
  };
  const ProgrammingJob& job = programmingJob;
  if (prepared && named(job.bootstrapLoaderFile)) bytes += kLoaderDownloadBytes;
  if (prepared && named(job.transferFile)) bytes += fileDownloadBytes(fileSizeOf(job.transferFile));
  expectedBytes = static_cast<uint32_t>(bytes);
}

uint32_t CUpdateDlg::fileSizeOf(const std::string& name) {
  std::FILE* file = platform::openHostFile(name, "rb");
  if (file == nullptr) return 0;
  long size = 0;
  if (std::fseek(file, 0, SEEK_END) != 0 || (size = std::ftell(file)) < 0) size = 0;
  if (std::fclose(file) != 0) return 0;
  return static_cast<uint32_t>(size);
}

int CUpdateDlg::fileExists(const std::string& name) {
  return ::fileExists(name) ? 1 : 0;
}

bool CUpdateDlg::preflightCheck(bool processorUpdate, int32_t optionKind, const char* configFile) {
  std::string message;
  const int32_t loaded = loadUpdateJob(configFile, message);
  m_jobLoaded = loaded == 0;
  // A job that fails its check was read: the record lists the files it names.
  m_jobRead = m_jobLoaded || loaded == kCheckJobInvalid;
  if (!m_jobLoaded) {
    const bool missingFile = message.ends_with(kNotAccessible);
    return refuse(message, missingFile ? folderLookedIn() : StepsAfterLastBox{});
  }
  // The processor update erases the job's areas before it programs: an image that runs
  // past them would leave the instrument erased for nothing.
  // (A backup alone programs nothing: its images need not fit.)
  if (processorUpdate && !m_backupOnly &&
      checkProgramsFitErasedFlash(programmingJob, message) != kCheckOk) {
    addStatusLine("ERROR - program file does not fit: update aborted");
    noteFailureCode(kCheckProgramNotErased);
    return refuse(message);
  }
  // The backup is read in update mode: a folder that cannot take it is said before.
  if (processorUpdate && !m_backupFolder.empty()) {
    uint64_t areaBytes = 0;
    for (int i = 0; i < programmingJob.eraseCount && i < kMaxJobEntries; ++i) {
      areaBytes += programmingJob.eraseAreas[i].length;
    }
    if (const std::string problem = backupDestinationProblem(m_backupFolder, areaBytes);
        !problem.empty()) {
      addStatusLine("ERROR - backup: " + problem);
      noteFailureCode(kResultBackupWrite);
      return refuse("Backup refused:\n" + problem);
    }
  }
  const char* image = optionImageFile(optionKind);
  if (image == nullptr) return true;
  // The option update opens the image only after the instrument has been prepared: an
  // image that is missing, empty or no file at all must be found now.
  const std::string path = platform::resolveHostFile(image);
  uint64_t bytes = 0;
  platform::FileReader reader;
  if (platform::regularFileSize(path, bytes) && bytes > 0 && reader.open(path)) return true;
  addStatusLine("ERROR - DSP file could not be opened");
  noteFailureCode(kResultDspFailed);
  return refuse(std::string("DSP file ") + image + " not accessible", folderLookedIn());
}

bool CUpdateDlg::refuse(const std::string& reason, const StepsAfterLastBox& after) {
  m_refused = true;
  m_refusal = reason;
  stopProgressTimer();
  showLastBox(reason, ui::MessageBoxKind::Stop, false, after);
  if (!after.line.empty()) addStatusLine(after.line);
  return false;
}

void CUpdateDlg::reopenAtBootSettings() {
  CComm& port = m_session.m_comm;
  port.m_readTimeout = kBootReadTimeoutMs;
  port.m_baudRate = 9600;
  port.m_parity = 0;
  port.m_handshake = 2;  // XON/XOFF
  m_session.open();
}

int CUpdateDlg::checkMemoryExtension(uint32_t hw) {
  if (hw & kHwMemoryExtension) {
    addStatusLine("Processor board with memory extension");
    return 1;
  }
  m_refused = true;
  addStatusLine("ERROR - No memory extension installed!");
  char text[256];
  std::snprintf(text, sizeof text,
                "For %s without memory extension please load %s FW release V04.48!", deviceName,
                deviceName);
  addStatusLine(text);
  return 0;
}

int CUpdateDlg::checkSoftwareVersion() {
  std::string idn;
  m_session.getIdnString(idn);
  if (!idn.empty()) idn.pop_back();
  const std::string version =
      idn.size() > kVersionTextLength ? idn.substr(idn.size() - kVersionTextLength) : idn;
  if (m_session.m_swVersion < kMinAutomaticSwVersion) {
    m_refused = true;
    showLastBox("Software version lower than 3.08.\nOnly Manual mode is possible",
                ui::MessageBoxKind::Stop);
    return 0;
  }
  char text[256];
  std::snprintf(text, sizeof text, "Current software version %s: %s", deviceName, version.c_str());
  addStatusLine(text);
  return 1;
}

int CUpdateDlg::checkHardwareAfterUpdate(uint32_t expected) {
  const uint32_t current = static_cast<uint32_t>(m_session.hwInfo);
  if (current == expected) return 0;
  noteFailureCode(kResultHardwareChanged);
  stopProgressTimer();
  const char* box = kLostUnknownOption;
  for (const LostOption& lost : kLostOptions) {
    if (current < expected && expected - current == lost.bit) {
      addStatusLine(lost.line);
      box = lost.box;
      break;
    }
  }
  showLastBox(box, ui::MessageBoxKind::Stop);
  return 1;
}

// The automatic update, step by step as its status lines read. A step returns nothing to
// go on, or the run's result.
int CUpdateDlg::runAutomaticUpdate() {
  if (!connectAndIdentify()) return kAutomaticStopped;
  if (m_session.m_swVersion <= kLastIntermediateBootVersion) m_intermediateBoot = 1;
  const uint32_t hw = static_cast<uint32_t>(m_session.hwInfo);
  if (checkMemoryExtension(hw) == 0) return kAutomaticStopped;
  if (checkSoftwareVersion() == 0) return kAutomaticStopped;

  selectOptionKind(hw);
  m_recorder.m_record.updated =
      ServiceRecordUpdated{true, optionKindName(m_updateSettings.optionKind)};
  if (m_dryRun) return planDryRun(hw) ? kAutomaticDone : kAutomaticStopped;
  computeExpectedBytes(hw);
  startProgressTimer();
  m_timerActive = 1;

  if (auto stop = createConfigurationFile(hw)) return *stop;
  if (auto stop = setInUpdateMode()) return *stop;
  if (auto stop = updateProcessorFirmware()) return *stop;
  if (m_intermediateBoot != 0) {
    if (auto stop = waitUntilBooted(hw)) return *stop;
  }
  return updateOption();
}

bool CUpdateDlg::connectAndIdentify() {
  CComm& port = m_session.m_comm;
  addStatusLine(withDevice("Autoconnect with %s"));
  port.m_writeTimeout = kProbeWriteTimeoutMs;
  if (m_session.autoConnect() == 0) {
    // The step's ERROR mark has always followed the box, and the port's cause follows it;
    // the record, kept before the box, has both.
    const std::string cause = notePortFailure();
    showLastBox(withDevice("ERROR -\ncheck RS232 cable,\ncheck %s on,\ncheck COM port."),
                ui::MessageBoxKind::Stop, false,
                {.failedStepCode = kResultInstrumentNotReached, .line = cause});
    markFailed(kResultInstrumentNotReached);
    if (!cause.empty()) addStatusLine(cause);
    m_session.restorePortParameter();
    return false;
  }
  markOk();
  port.m_writeTimeout = kRunWriteTimeoutMs;

  // The instrument's own settings are sent back when the run ends; the update itself
  // talks at 9600 8N1. Neither failure stops the run.
  if (m_session.getRs232Parameter() != 0) addStatusLine("ERROR Get Zel RS232-Parameter");
  if (m_session.setDefaultRs232Parameter() != 0) {
    addStatusLine("ERROR Set RS232-Parameter after Autoconnect");
  }

  addStatusLine("Get SW/HW info");
  if (m_session.read_SwVersion() == 1) {
    markFailed(kResultInstrumentNotReached);
    return false;
  }
  markOk();
  noteIdentification();
  return true;
}

std::string CUpdateDlg::notePortFailure() {
  if (cancelRequested != 0) return std::string();
  const CComm& port = m_session.m_comm;
  m_portFailure = portFailureLine(platform::comPortDevice(port.m_portNo), port.openFailure());
  return m_portFailure;
}

std::optional<int> CUpdateDlg::createConfigurationFile(uint32_t hw) {
  addStatusLine("Create configuration file");
  if (writeAutomaticConfiguration(hw, m_updateSettings.optionUpdate != 0,
                                  m_session.m_comm.m_portNo) == kConfigNotCreated) {
    markFailed(kResultConfigNotWritten);
    return kAutomaticStopped;
  }
  markOk();
  // Nothing that would fail later may leave the instrument in update mode for nothing.
  if (!preflightCheck(true, m_updateSettings.optionKind)) return kAutomaticStopped;
  return std::nullopt;
}

std::optional<int> CUpdateDlg::setInUpdateMode() {
  addStatusLine(withDevice("Set %s in update mode"));
  if (m_session.setUpdateModeOn() != 0) {
    markFailed(kResultInstrumentNotReached);
    return kAutomaticStopped;
  }
  markOk();
  m_leftInUpdateMode = true;
  return std::nullopt;
}

std::optional<int> CUpdateDlg::updateProcessorFirmware() {
  // The one step that is tried twice, unless the user cancelled the first: the target
  // still runs its transfer program then.
  const int32_t first = m_session.startFlashUpdate(m_intermediateBoot);
  if (first == 0) return std::nullopt;
  noteFailureCode(first);
  if (cancelConfirmedAfterFailure()) return stopForCancel();
  const int32_t second = m_session.startFlashUpdate(m_intermediateBoot);
  if (second == 0) return std::nullopt;
  if (cancelRequested != 0) return stopForCancel();
  stopProgressTimer();
  if (!m_backupFolder.empty() && !m_backupWritten) {
    // The backup comes before the first erase: the flash holds the old firmware still.
    showLastBox(withDevice(kBackupBeforeUpdateFailedBox), ui::MessageBoxKind::Stop);
    return kAutomaticStopped;
  }
  // A line that went dead in the first try fails the second at once, with another code.
  sayNextStep(second, first);
  showLastBox("Update processor firmware failed,\nplease retry in Manual Mode",
              ui::MessageBoxKind::Stop);
  return kAutomaticStopped;
}

std::optional<int> CUpdateDlg::awaitReboot() {
  reopenAtBootSettings();
  addStatusLine(withDevice("Wait until %s is booted"));
  if (m_session.getDeviceAnswer(kBootAnswerSeconds) != 0) {
    setStepStatus(0, cancelRequested != 0 ? kResultCancelled : kResultNoAnswerAfterBoot);
    noteFailureCode(cancelRequested != 0 ? kResultCancelled : kResultNoAnswerAfterBoot);
    if (cancelRequested != 0) return stopForCancel();
    // No box of its own: the line says what to do.
    if (m_backupOnly || !m_restoreFolder.empty()) {
      sayNextStep(kResultNoAnswerAfterBoot);
    } else {
      addStatusLine(withDevice(kNoAnswerAfterBootNextStep));
    }
    return kAutomaticStopped;
  }
  markOk();
  m_leftInUpdateMode = false;
  if (cancelRequested != 0) return stopForCancel();
  m_recorder.m_record.versionAfter = instrumentOfIdentification(m_session.idnString).version;
  return std::nullopt;
}

std::optional<int> CUpdateDlg::waitUntilBooted(uint32_t hw) {
  // The processor update has booted the instrument into its new firmware. A cancel in the
  // wait ends the run there: the processor firmware is in, the option is not begun.
  if (auto stop = awaitReboot()) return *stop;
  // The hardware word as the new firmware reports it, read without a status line of its
  // own: an option that it no longer finds is not updated. A word that only gained bits is
  // no loss (an option found only now is looked for below), and an unread one stands.
  const int32_t before = m_session.hwInfo;
  if (m_session.readHwInfo() == 0 && (hw & ~static_cast<uint32_t>(m_session.hwInfo)) == 0) {
    m_session.hwInfo = before;
  }
  if (checkHardwareAfterUpdate(hw) != 0) return kAutomaticStopped;
  addStatusLine("Update processor firmware successfully completed");
  if (m_updateSettings.optionKind == kOptionNone) return findOptionAfterUpdate();
  return std::nullopt;
}

std::optional<int> CUpdateDlg::findOptionAfterUpdate() {
  // The new firmware may report an option that the old one did not.
  addStatusLine("Get HW info after processor update");
  if (m_session.read_SwVersion() == 1) {
    markFailed(kResultInstrumentNotReached);
    return kAutomaticStopped;
  }
  markOk();
  const uint32_t hwAfter = static_cast<uint32_t>(m_session.hwInfo);
  selectOptionKind(hwAfter);
  m_recorder.m_record.updated->option = optionKindName(m_updateSettings.optionKind);
  beginOptionProgress(true);
  addStatusLine("Create configuration file after download processor firmware");
  if (writeAutomaticConfiguration(hwAfter, m_updateSettings.optionUpdate != 0,
                                  m_session.m_comm.m_portNo) == kConfigNotCreated) {
    markFailed(kResultConfigNotWritten);
    return kAutomaticStopped;
  }
  markOk();
  return std::nullopt;
}

int CUpdateDlg::updateOption() {
  if (m_updateSettings.optionKind == kOptionNone) return kAutomaticDone;
  if (cancelRequested != 0) return stopForCancel();
  beginOptionProgress(m_intermediateBoot != 0);
  if (m_intermediateBoot != 0) {
    // The instrument runs its firmware again and is prepared once more.
    if (m_updateSettings.optionKind == kOptionB1) m_session.powerOnDspB1();
    if (auto stop = setInUpdateMode()) return *stop;
  }
  const int result = m_session.startFlashUpdate(m_updateSettings.optionKind, m_intermediateBoot);
  noteFailureCode(result);
  if (result != 0 && cancelConfirmedAfterFailure()) return stopForCancel();
  return result;
}
