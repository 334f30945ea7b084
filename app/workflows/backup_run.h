// The backup alone: the flash areas that an automatic update of the instrument would erase
// are read into the backup folder, and the instrument boots unchanged.
#pragma once

#include <optional>

#include "app/workflows/workflow_host.h"

class BackupRun {
 public:
  explicit BackupRun(RunContext& run) : m_run(run) {}

  // Results as runAutomaticUpdate's: kAutomaticDone after its success box, else
  // kAutomaticStopped.
  int run();

 private:
  // The folder takes a backup; else the refusal's line and box. False when refused.
  bool folderAccepted();
  // "Preparing backup environment": the target prepared, the areas read, the transfer
  // program ended. Nothing to go on, or the run's result.
  std::optional<int> readFlash();

  RunContext& m_run;
};
