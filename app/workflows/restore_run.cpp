#include "app/workflows/restore_run.h"

#include "app/hex_text.h"
#include "app/run_record.h"
#include "app/workflows/run_steps.h"
#include "app/workflows/workflow_steps.h"
#include "flash/config/config_writer.h"
#include "platform/whole_file.h"

namespace {

// %s: the device's name.
constexpr const char* kRestoreFailedBox =
    "Restore of the processor firmware failed,\nplease retry.\nSwitch %s off and on, then run "
    "the restore again.";

// A ROMWRITE.CNF is a few hundred bytes; one far larger is kept as it is, not restored.
constexpr size_t kMaxJobFileBytes = 1024 * 1024;

}  // namespace

std::string StagedRestoreJob::stage(const std::string& folder, const BackupManifest& manifest) {
  const std::string job = restoreJobText(manifest, m_stagedFiles);
  // The folder's own ROMWRITE.CNF comes back when the restore ends: the restore's job names
  // staged copies that do not outlive it.
  m_hadJob = platform::readRegularFile(kConfigFileName, kMaxJobFileBytes, m_previousJob);
  std::string why;
  m_jobWritten = platform::writeFileWhole(kConfigFileName, job, &why);
  if (!m_jobWritten) {
    return std::string("cannot write ") + kConfigFileName + " in the current folder: " + why;
  }
  if (stageRestoreFiles(folder, manifest, m_stagedFiles, &why)) why.clear();
  m_staged = why.empty();
  return why;
}

void StagedRestoreJob::putBackJob() {
  // A job that cannot be put back is not left as the restore's: it names staged copies.
  if (!m_hadJob || !platform::writeFileWhole(kConfigFileName, m_previousJob)) {
    platform::removeFile(kConfigFileName);
  }
}

void StagedRestoreJob::putBackAfterFailure() {
  if (m_jobWritten) putBackJob();
}

StagedRestoreJob::~StagedRestoreJob() {
  // The staged copies go whatever the outcome, and the folder's own job comes back.
  if (!m_staged) return;
  removeRestoreFiles(m_stagedFiles);
  putBackJob();
}

int RestoreRun::run() {
  m_run.record.noteUpdated(true, "");
  // The backup is checked whole before the instrument is touched.
  if (!checkBackup()) return kAutomaticStopped;
  if (!reachInstrument() || !identityAccepted()) return kAutomaticStopped;
  m_run.host.startProgressTimer();
  m_run.host.countTimerRunning();

  StagedRestoreJob job;
  if (!writeRestoreJob(job)) return kAutomaticStopped;
  if (!preflightCheck(m_run, true, kOptionNone)) return kAutomaticStopped;
  // The record lists the files as they were programmed: the staged copies are gone by its
  // end.
  m_run.record.noteFiles(updateFilesOf(&programmingJob, true, nullptr));
  uint64_t areaBytes = 0;
  for (const BackupArea& area : m_manifest.areas) areaBytes += area.bytes;
  m_run.host.setExpectedBytes(static_cast<uint32_t>(areaBytes) + readTrafficBytes(areaBytes));

  if (auto stop = programBackup()) return *stop;
  if (auto stop = awaitReboot(m_run)) return *stop;
  m_run.host.stopProgressTimer();
  // Brought back: what the record says of a restore into an unidentified instrument.
  m_run.record.noteRecovered(m_recovering);
  m_run.host.showLastBox("Restore successfully completed.\nEXIT update program.",
                         ui::MessageBoxKind::Information, true, {});
  return kAutomaticDone;
}

bool RestoreRun::checkBackup() {
  addStatusLine("Check backup " + m_run.request.restoreFolder);
  const std::string problem = readBackup(m_run.request.restoreFolder, m_manifest);
  if (problem.empty()) {
    markOk();
    return true;
  }
  setStepStatus(0, 0);
  addStatusLine("ERROR - " + problem);
  m_run.state.refused = true;
  // Kept before the box: the box ends the run's record.
  m_run.state.refusal = "Restore refused:\n" + problem;
  m_run.host.showLastBox(m_run.state.refusal, ui::MessageBoxKind::Stop);
  return false;
}

bool RestoreRun::reachInstrument() {
  CZel& session = m_run.session;
  // An instrument whose firmware an interrupted update or restore left incomplete answers
  // nothing but shows update mode on its modem lines: it is not probed (its boot block would
  // take the probing's text for a download), and the backup is its way back.
  if (!session.m_comm.isOpen()) session.open();
  m_recovering = session.isZelInUpdateMode() != 0;
  if (!m_recovering) return connectAndIdentify(m_run);
  // The backup names the model that the status lines and boxes speak of.
  if (m_manifest.identityKnown && m_manifest.instrument.model == kDeviceNameLum) {
    deviceName = kDeviceNameLum;
  } else {
    deviceName = kDeviceNameZel;
  }
  // Its firmware is incomplete (an interrupted update or restore): the backup is the way
  // back, though nothing tells whose backup this instrument takes.
  addStatusLine(withDevice("%s waits in update mode: its identity cannot be checked"));
  if (!m_run.request.restoreForce &&
      !confirmed(m_run, withDevice("%s waits in update mode: its firmware is incomplete\n(an "
                                   "update or a restore was interrupted),\nand its identity "
                                   "cannot be checked.\nRestore the backup into it?"))) {
    return refuseByLine("ERROR - restore not confirmed",
                        "Restore not confirmed for an instrument whose identity cannot be checked");
  }
  m_run.state.leftInUpdateMode = true;
  return true;
}

bool RestoreRun::identityAccepted() {
  const BackupManifest& manifest = m_manifest;
  const ServiceRecordInstrument here = m_run.record.instrument();
  const auto hw = static_cast<uint32_t>(m_run.session.hwInfo);
  if (m_recovering) {
    addStatusLine("Restore into an unidentified instrument: backup of serial " +
                  (manifest.identityKnown ? manifest.instrument.serial : std::string("unknown")));
    return true;
  }
  if (!manifest.identityKnown) {
    // A backup made in manual mode names no instrument: the technician says whether it is
    // this one's.
    const std::string line = "the backup names no instrument (made in manual mode)";
    if (!m_run.request.restoreForce &&
        !confirmed(m_run, withDevice("The backup names no instrument: it was made in manual "
                                     "mode.\nRestore it onto this %s all the same?"))) {
      return refuseByLine("ERROR - " + line, "Restore refused: " + line);
    }
    addStatusLine("Restore confirmed: " + line);
    return true;
  }
  if (here.serial == manifest.instrument.serial && hw == manifest.hw) return true;
  const std::string line = "backup of serial " + manifest.instrument.serial + " (hw " +
                           hexText(manifest.hw) + "), instrument here: serial " + here.serial +
                           " (hw " + hexText(hw) + ")";
  if (!m_run.request.restoreForce) {
    addStatusLine("ERROR - another instrument: " + line);
    m_run.state.refused = true;
    m_run.state.refusal = "Restore refused: the backup is of another instrument.\n" + line +
                          "\n(--force restores it all the same)";
    m_run.host.showLastBox(m_run.state.refusal, ui::MessageBoxKind::Stop);
    return false;
  }
  addStatusLine("Restore forced: " + line);
  return true;
}

bool RestoreRun::refuseByLine(const std::string& line, const std::string& refusal) {
  addStatusLine(line);
  m_run.state.refused = true;
  m_run.state.refusal = refusal;
  return false;
}

bool RestoreRun::writeRestoreJob(StagedRestoreJob& job) {
  addStatusLine("Create configuration file for the restore");
  const std::string why = job.stage(m_run.request.restoreFolder, m_manifest);
  if (why.empty()) {
    markOk();
    return true;
  }
  markFailed(kResultConfigNotWritten);
  addStatusLine("ERROR - " + why);
  m_run.host.stopProgressTimer();
  m_run.host.showLastBox("Restore failed before update mode: the flash is unchanged.\n" + why,
                         ui::MessageBoxKind::Stop);
  job.putBackAfterFailure();
  return false;
}

std::optional<int> RestoreRun::programBackup() {
  // An instrument found waiting in update mode is there already.
  if (!m_recovering) {
    if (auto stop = setInUpdateMode(m_run)) return *stop;
  }
  WorkflowState& state = m_run.state;
  if (m_run.session.startFlashUpdate(1, state.updateExtras, &state.readBack) == 0) {
    return std::nullopt;
  }
  if (m_run.host.cancelConfirmedAfterFailure()) return stopForCancel(m_run);
  m_run.host.stopProgressTimer();
  m_run.host.showLastBox(withDevice(kRestoreFailedBox), ui::MessageBoxKind::Stop);
  return kAutomaticStopped;
}
