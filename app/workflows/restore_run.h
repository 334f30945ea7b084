// The restore of a backup: the backup checked whole, the instrument identified (or found
// waiting in update mode and confirmed), the areas the backup holds erased and programmed
// back, always verified, and the instrument rebooted.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/flash_backup.h"
#include "app/workflows/workflow_host.h"

// The restore's job in the current folder and the staged copies of the backup's files that
// it names: they go when the restore ends, and the folder's own ROMWRITE.CNF comes back.
class StagedRestoreJob {
 public:
  StagedRestoreJob() = default;
  StagedRestoreJob(const StagedRestoreJob&) = delete;
  StagedRestoreJob& operator=(const StagedRestoreJob&) = delete;
  ~StagedRestoreJob();
  // Writes the job and stages the files: empty, or why they could not be (then
  // putBackAfterFailure puts the folder's job back).
  std::string stage(const std::string& folder, const BackupManifest& manifest);
  void putBackAfterFailure();

 private:
  // The folder's own job written back, or the restore's job deleted where there was none.
  void putBackJob();

  std::vector<std::string> m_stagedFiles;
  bool m_hadJob = false;
  std::string m_previousJob;
  bool m_jobWritten = false;
  bool m_staged = false;
};

class RestoreRun {
 public:
  explicit RestoreRun(RunContext& run) : m_run(run) {}

  // Results as runAutomaticUpdate's: kAutomaticDone after its success box, else
  // kAutomaticStopped.
  int run();

 private:
  // "Check backup DIR": the manifest and every file it names; else the refusal.
  bool checkBackup();
  // The instrument identified, or found waiting in update mode and the restore confirmed.
  bool reachInstrument();
  // The backup is this instrument's, or the technician (or --force) says to restore it.
  bool identityAccepted();
  // "Create configuration file for the restore": the job and the staged files. False after
  // the failure's lines and box.
  bool writeRestoreJob(StagedRestoreJob& job);
  // The areas erased and programmed back. Nothing to go on, or the run's result.
  std::optional<int> programBackup();
  // A refusal by line alone, its reason kept for the record.
  bool refuseByLine(const std::string& line, const std::string& refusal);

  RunContext& m_run;
  BackupManifest m_manifest;
  // The instrument waited in update mode, unidentified.
  bool m_recovering = false;
};
