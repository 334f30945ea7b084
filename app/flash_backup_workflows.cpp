// Read back, backup and restore in the main dialog's Run: the engine's settings for each
// Run, the backup alone (read the flash an update would erase, boot the instrument
// unchanged) and the restore of a backup (erase those areas, program them back, always
// verified, reboot).
#include <cstdio>
#include <string>

#include "app/dialog_templates.h"
#include "app/flash_backup.h"
#include "app/run_record.h"
#include "app/update_dlg.h"
#include "app/workflow_steps.h"
#include "flash/config/config_writer.h"
#include "flash/processor_update.h"
#include "flash/read_back.h"
#include "flash/result_codes.h"
#include "flash/target_commands.h"
#include "platform/whole_file.h"

namespace {

std::string hexText(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
  return text;
}

// Bytes that reading `bytes` of flash moves from the host: the echo of every byte the
// target sends, and the requests.
uint32_t readTrafficBytes(uint64_t bytes) {
  return static_cast<uint32_t>(bytes + bytes / kUploadChunkSize * 16);
}

}  // namespace

void CUpdateDlg::prepareReadBack() {
  // A restore always proves what it wrote.
  m_verify = m_window->isChecked(kIdcVerify) || !m_restoreFolder.empty();
  m_backupWritten = false;
  processorUpdateExtras = ProcessorUpdateExtras{};
  readBackReport = ReadBackReport{};
  if (m_dryRun) return;
  processorUpdateExtras.verify = m_verify;
  if (m_backupFolder.empty()) return;
  processorUpdateExtras.beforeErase = [this](CComm& port) -> int32_t {
    // The second try of an update keeps the backup that the first one took.
    if (m_backupWritten) return kResultOk;
    if (const std::string problem = backupFolderProblem(m_backupFolder); !problem.empty()) {
      addStatusLine("ERROR - backup: " + problem);
      return kResultBackupWrite;
    }
    const ServiceRecordInstrument instrument =
        m_recorder.m_record.instrument.value_or(ServiceRecordInstrument{});
    const int32_t result = writeBackup(m_backupFolder, instrument, port);
    m_backupWritten = result == kResultOk;
    return result;
  };
}

void CUpdateDlg::noteReadBack() {
  if (m_verify && !m_backupOnly) {
    const ReadBackReport& report = readBackReport;
    if (!report.differences.empty()) {
      m_recorder.m_record.verify = "differs";
      m_recorder.m_record.differences = report.differences;
    } else {
      m_recorder.m_record.verify = report.verified ? "ok" : "";  // "": not reached (null)
    }
  }
  if (m_backupWritten) m_recorder.m_record.backup = m_backupFolder;
  if (!m_restoreFolder.empty()) m_recorder.m_record.restore = m_restoreFolder;
  processorUpdateExtras = ProcessorUpdateExtras{};
}

int CUpdateDlg::runBackupOnly() {
  m_recorder.m_record.updated = ServiceRecordUpdated{false, ""};
  if (const std::string problem = backupFolderProblem(m_backupFolder); !problem.empty()) {
    addStatusLine("ERROR - backup: " + problem);
    m_refused = true;
    showLastBox("Backup refused:\n" + problem, ui::MessageBoxKind::Stop);
    return kAutomaticStopped;
  }
  if (!connectAndIdentify()) return kAutomaticStopped;
  const uint32_t hw = static_cast<uint32_t>(m_session.hwInfo);
  startProgressTimer();
  m_timerActive = 1;

  // The job that an automatic update of this instrument would run: its erase areas are
  // what the backup saves, and its loader and transfer program do the reading.
  addStatusLine("Create configuration file");
  if (writeAutomaticConfiguration(hw, false, m_session.m_comm.m_portNo) == kConfigNotCreated) {
    markFailed(kResultConfigNotWritten);
    return kAutomaticStopped;
  }
  setStepStatus(1, 0);
  if (!preflightCheck(true, kOptionNone)) return kAutomaticStopped;
  uint64_t areaBytes = 0;
  for (int i = 0; i < programmingJob.eraseCount; ++i)
    areaBytes += programmingJob.eraseAreas[i].length;
  expectedBytes = readTrafficBytes(areaBytes) + fileSizeOf(programmingJob.transferFile);

  if (auto stop = setInUpdateMode()) return *stop;
  addStatusLine("Preparing backup environment");
  if (backupProcessorFlash(kProgrammingConfigFile, m_session.m_comm) != 0) {
    if (cancelRequested != 0) return stopForCancel();
    stopProgressTimer();
    showLastBox(withDevice("Backup failed: the flash is unchanged.\nSwitch %s off and on."),
                ui::MessageBoxKind::Stop);
    return kAutomaticStopped;
  }

  reopenAtBootSettings();
  addStatusLine(withDevice("Wait until %s is booted"));
  if (m_session.getDeviceAnswer(kBootAnswerSeconds) != 0) {
    setStepStatus(0, 0);
    return kAutomaticStopped;
  }
  setStepStatus(1, 0);
  m_recorder.m_record.versionAfter = instrumentOfIdentification(m_session.idnString).version;
  stopProgressTimer();
  showLastBox("Backup successfully completed.", ui::MessageBoxKind::Information, true);
  return kAutomaticDone;
}

int CUpdateDlg::runRestore() {
  m_recorder.m_record.updated = ServiceRecordUpdated{true, ""};
  // The backup is checked whole before the instrument is touched.
  BackupManifest manifest;
  addStatusLine("Check backup " + m_restoreFolder);
  if (const std::string problem = readBackup(m_restoreFolder, manifest); !problem.empty()) {
    setStepStatus(0, 0);
    addStatusLine("ERROR - " + problem);
    m_refused = true;
    showLastBox("Restore refused:\n" + problem, ui::MessageBoxKind::Stop);
    return kAutomaticStopped;
  }
  setStepStatus(1, 0);
  if (!connectAndIdentify()) return kAutomaticStopped;

  const ServiceRecordInstrument here =
      m_recorder.m_record.instrument.value_or(ServiceRecordInstrument{});
  const auto hw = static_cast<uint32_t>(m_session.hwInfo);
  if (here.serial != manifest.instrument.serial || hw != manifest.hw) {
    const std::string line = "backup of serial " + manifest.instrument.serial + " (hw " +
                             hexText(manifest.hw) + "), instrument here: serial " + here.serial +
                             " (hw " + hexText(hw) + ")";
    if (!m_restoreForce) {
      addStatusLine("ERROR - another instrument: " + line);
      m_refused = true;
      showLastBox("Restore refused: the backup is of another instrument.\n" + line +
                      "\n(--force restores it all the same)",
                  ui::MessageBoxKind::Stop);
      return kAutomaticStopped;
    }
    addStatusLine("Restore forced: " + line);
  }
  startProgressTimer();
  m_timerActive = 1;

  addStatusLine("Create configuration file for the restore");
  std::vector<std::string> stagedFiles;
  const std::string job = restoreJobText(manifest, stagedFiles);
  if (!platform::writeFileWhole(kConfigFileName, job) ||
      !stageRestoreFiles(m_restoreFolder, manifest, stagedFiles)) {
    setStepStatus(0, 0);
    return kAutomaticStopped;
  }
  setStepStatus(1, 0);
  // The staged copies go whatever the outcome.
  struct Unstage {
    std::vector<std::string>& files;
    ~Unstage() { removeRestoreFiles(files); }
  } unstage{stagedFiles};
  if (!preflightCheck(true, kOptionNone)) return kAutomaticStopped;
  uint64_t areaBytes = 0;
  for (const BackupArea& area : manifest.areas) areaBytes += area.bytes;
  expectedBytes = static_cast<uint32_t>(areaBytes) + readTrafficBytes(areaBytes);

  if (auto stop = setInUpdateMode()) return *stop;
  if (m_session.startFlashUpdate(1) != 0) {
    if (cancelRequested != 0) return stopForCancel();
    stopProgressTimer();
    showLastBox("Restore of the processor firmware failed,\nplease retry",
                ui::MessageBoxKind::Stop);
    return kAutomaticStopped;
  }

  reopenAtBootSettings();
  addStatusLine(withDevice("Wait until %s is booted"));
  if (m_session.getDeviceAnswer(kBootAnswerSeconds) != 0) {
    setStepStatus(0, 0);
    return kAutomaticStopped;
  }
  setStepStatus(1, 0);
  m_recorder.m_record.versionAfter = instrumentOfIdentification(m_session.idnString).version;
  stopProgressTimer();
  showLastBox("Restore successfully completed.\nEXIT update program.",
              ui::MessageBoxKind::Information, true);
  return kAutomaticDone;
}
