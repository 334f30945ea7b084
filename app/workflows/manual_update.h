// The manual update: the technician prepares the instrument by hand as the boxes say, and
// the configuration dialog's selections stand in for what the automatic mode asks the
// instrument.
#pragma once

#include "app/workflows/workflow_host.h"

class ManualUpdate {
 public:
  explicit ManualUpdate(RunContext& run) : m_run(run) {}

  // True when the run ended with its success message (or, updating nothing, when the
  // configuration file was written).
  bool run();

 private:
  // "Create configuration file" from the selections. False when it was not written.
  bool createConfigurationFile();
  // The processor firmware after the service menu's box. False when the run ends here (a
  // cancel); a failure's box leaves m_processorOk false.
  bool updateProcessor();
  // The option's DSP firmware: its success, its failure's box or the cancel's.
  void updateOption();
  // After a boot the technician sets the instrument's remote settings as the box says, and
  // it is switched into update mode where it is not.
  void prepareOptionByHand();

  RunContext& m_run;
  bool m_processorOk = true;
  bool m_succeeded = true;
};
