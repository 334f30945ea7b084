#include "app/workflows/backup_run.h"

#include <string>

#include "app/flash_backup.h"
#include "app/workflows/run_steps.h"
#include "app/workflows/workflow_steps.h"
#include "flash/read_back.h"

namespace {

// %s: the device's name.
constexpr const char* kBackupFailedBox =
    "Backup failed: the flash is unchanged.\nSwitch %s off and on, then run the backup again.";

}  // namespace

int BackupRun::run() {
  m_run.record.noteUpdated(false, "");
  if (!folderAccepted()) return kAutomaticStopped;
  if (!connectAndIdentify(m_run)) return kAutomaticStopped;
  const uint32_t hw = static_cast<uint32_t>(m_run.session.hwInfo);
  m_run.host.startProgressTimer();
  m_run.host.countTimerRunning();

  // The job that an automatic update of this instrument would run: its erase areas are
  // what the backup saves, and its loader and transfer program do the reading.
  if (auto stop = createAutomaticJob(m_run, hw, false, kOptionNone)) return *stop;
  m_run.host.setExpectedBytes(readTrafficBytes(programmingJob.erasedBytes()) +
                              fileSizeOf(programmingJob.transferFile));

  if (auto stop = setInUpdateMode(m_run)) return *stop;
  if (auto stop = readFlash()) return *stop;
  if (auto stop = awaitReboot(m_run)) return *stop;
  m_run.host.stopProgressTimer();
  m_run.host.showLastBox("Backup successfully completed.", ui::MessageBoxKind::Information, true,
                         {});
  return kAutomaticDone;
}

bool BackupRun::folderAccepted() {
  const std::string problem = backupFolderProblem(m_run.request.backupFolder);
  if (problem.empty()) return true;
  addStatusLine("ERROR - backup: " + problem);
  m_run.state.refused = true;
  // Kept before the box: the box ends the run's record.
  m_run.state.refusal = "Backup refused:\n" + problem;
  m_run.host.showLastBox(m_run.state.refusal, ui::MessageBoxKind::Stop);
  return false;
}

std::optional<int> BackupRun::readFlash() {
  addStatusLine("Preparing backup environment");
  if (backupProcessorFlash(kProgrammingConfigFile, m_run.session.m_comm,
                           m_run.state.updateExtras) == 0) {
    return std::nullopt;
  }
  if (m_run.host.cancelConfirmedAfterFailure()) return stopForCancel(m_run);
  m_run.host.stopProgressTimer();
  m_run.host.showLastBox(withDevice(kBackupFailedBox), ui::MessageBoxKind::Stop);
  return kAutomaticStopped;
}
