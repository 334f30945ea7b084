// Read back, backup and restore in the main dialog's Run: the engine's settings for each
// Run, the backup alone (read the flash an update would erase, boot the instrument
// unchanged) and the restore of a backup (erase those areas, program them back, always
// verified, reboot).
#include <cstdio>
#include <string>

#include "app/dialog_templates.h"
#include "app/flash_backup.h"
#include "app/hex_text.h"
#include "app/run_record.h"
#include "app/update_dlg.h"
#include "app/workflow_steps.h"
#include "flash/config/config_writer.h"
#include "flash/processor_update.h"
#include "flash/programming_link.h"
#include "flash/read_back.h"
#include "flash/result_codes.h"
#include "flash/target_commands.h"
#include "platform/whole_file.h"

namespace {

// Bytes that reading `bytes` of flash moves from the host: the echo of every byte the
// target sends, and the requests.
// A ROMWRITE.CNF is a few hundred bytes; one far larger is kept as it is, not restored.
constexpr size_t kMaxJobFileBytes = 1024 * 1024;

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
  markOk();
  if (!preflightCheck(true, kOptionNone)) return kAutomaticStopped;
  uint64_t areaBytes = 0;
  for (int i = 0; i < programmingJob.eraseCount; ++i)
    areaBytes += programmingJob.eraseAreas[i].length;
  expectedBytes = readTrafficBytes(areaBytes) + fileSizeOf(programmingJob.transferFile);

  if (auto stop = setInUpdateMode()) return *stop;
  addStatusLine("Preparing backup environment");
  if (backupProcessorFlash(kProgrammingConfigFile, m_session.m_comm) != 0) {
    if (cancelConfirmedAfterFailure()) return stopForCancel();
    stopProgressTimer();
    showLastBox(withDevice(kBackupFailedBox), ui::MessageBoxKind::Stop);
    return kAutomaticStopped;
  }
  if (auto stop = awaitReboot()) return *stop;
  stopProgressTimer();
  showLastBox("Backup successfully completed.", ui::MessageBoxKind::Information, true);
  return kAutomaticDone;
}

bool CUpdateDlg::confirmed(const std::string& question) {
  if (showBox(question, ui::MessageBoxKind::Question) != ui::MessageBoxAnswer::Yes) return false;
  // A request to end that came while the question waited answered it as without a terminal:
  // it is served now, before anything is sent.
  pumpMessages();
  return cancelRequested == 0;
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
  markOk();
  // An instrument whose firmware an interrupted update or restore left incomplete answers
  // nothing but shows update mode on its modem lines: it is not probed (its boot block would
  // take the probing's text for a download), and the backup is its way back.
  if (!m_session.m_comm.isOpen()) m_session.open();
  const bool recovering = m_session.isZelInUpdateMode() != 0;
  if (!recovering && !connectAndIdentify()) return kAutomaticStopped;
  if (recovering) {
    // The backup names the model that the status lines and boxes speak of.
    if (manifest.identityKnown && manifest.instrument.model == kDeviceNameLum) {
      deviceName = kDeviceNameLum;
    } else {
      deviceName = kDeviceNameZel;
    }
    // Its firmware is incomplete (an interrupted update or restore): the backup is the way
    // back, though nothing tells whose backup this instrument takes.
    addStatusLine(withDevice("%s waits in update mode: its identity cannot be checked"));
    if (!m_restoreForce &&
        !confirmed(withDevice("%s waits in update mode: its firmware is incomplete\n(an update "
                              "or a restore was interrupted),\nand its identity cannot be "
                              "checked.\nRestore the backup into it?"))) {
      addStatusLine("ERROR - restore not confirmed");
      m_refused = true;
      m_refusal = "Restore not confirmed for an instrument whose identity cannot be checked";
      return kAutomaticStopped;
    }
    m_leftInUpdateMode = true;
  }

  const ServiceRecordInstrument here =
      m_recorder.m_record.instrument.value_or(ServiceRecordInstrument{});
  const auto hw = static_cast<uint32_t>(m_session.hwInfo);
  if (recovering) {
    addStatusLine("Restore into an unidentified instrument: backup of serial " +
                  (manifest.identityKnown ? manifest.instrument.serial : std::string("unknown")));
  } else if (!manifest.identityKnown) {
    // A backup made in manual mode names no instrument: the technician says whether it is
    // this one's.
    const std::string line = "the backup names no instrument (made in manual mode)";
    if (!m_restoreForce &&
        !confirmed(withDevice("The backup names no instrument: it was made in manual mode.\n"
                              "Restore it onto this %s all the same?"))) {
      addStatusLine("ERROR - " + line);
      m_refused = true;
      m_refusal = "Restore refused: " + line;
      return kAutomaticStopped;
    }
    addStatusLine("Restore confirmed: " + line);
  } else if (here.serial != manifest.instrument.serial || hw != manifest.hw) {
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
  // The folder's own ROMWRITE.CNF comes back when the restore ends: the restore's job names
  // staged copies that do not outlive it.
  std::string previousJob;
  const bool hadJob = platform::readRegularFile(kConfigFileName, kMaxJobFileBytes, previousJob);
  std::string why;
  const bool jobWritten = platform::writeFileWhole(kConfigFileName, job, &why);
  if (!jobWritten) {
    why = std::string("cannot write ") + kConfigFileName + " in the current folder: " + why;
  } else if (stageRestoreFiles(m_restoreFolder, manifest, stagedFiles, &why)) {
    why.clear();
  }
  if (!why.empty()) {
    markFailed(kResultConfigNotWritten);
    addStatusLine("ERROR - " + why);
    stopProgressTimer();
    showLastBox("Restore failed before update mode: the flash is unchanged.\n" + why,
                ui::MessageBoxKind::Stop);
    if (jobWritten && (!hadJob || !platform::writeFileWhole(kConfigFileName, previousJob))) {
      std::remove(kConfigFileName);
    }
    return kAutomaticStopped;
  }
  markOk();
  // The staged copies go whatever the outcome, and the folder's own job comes back.
  struct Unstage {
    std::vector<std::string>& files;
    bool hadJob;
    const std::string& previousJob;
    ~Unstage() {
      removeRestoreFiles(files);
      if (!hadJob || !platform::writeFileWhole(kConfigFileName, previousJob)) {
        std::remove(kConfigFileName);
      }
    }
  } unstage{stagedFiles, hadJob, previousJob};
  if (!preflightCheck(true, kOptionNone)) return kAutomaticStopped;
  // The record lists the files as they were programmed: the staged copies are gone by its
  // end.
  m_recorder.noteFiles(updateFilesOf(&programmingJob, true, nullptr));
  uint64_t areaBytes = 0;
  for (const BackupArea& area : manifest.areas) areaBytes += area.bytes;
  expectedBytes = static_cast<uint32_t>(areaBytes) + readTrafficBytes(areaBytes);

  // An instrument found waiting in update mode is there already.
  if (!recovering) {
    if (auto stop = setInUpdateMode()) return *stop;
  }
  if (m_session.startFlashUpdate(1) != 0) {
    if (cancelConfirmedAfterFailure()) return stopForCancel();
    stopProgressTimer();
    showLastBox(withDevice(kRestoreFailedBox), ui::MessageBoxKind::Stop);
    return kAutomaticStopped;
  }
  if (auto stop = awaitReboot()) return *stop;
  stopProgressTimer();
  // Brought back: what the record says of a restore into an unidentified instrument.
  m_recorder.m_record.recovered = recovering;
  showLastBox("Restore successfully completed.\nEXIT update program.",
              ui::MessageBoxKind::Information, true);
  return kAutomaticDone;
}
