// The automatic update: find the instrument, identify it, refuse what cannot be updated this
// way, write the programming job for its hardware, update the processor firmware and, where an
// option is fitted, the option's DSP firmware.
#pragma once

#include <cstdint>
#include <optional>

#include "app/workflows/workflow_host.h"

class AutomaticUpdate {
 public:
  explicit AutomaticUpdate(RunContext& run) : m_run(run) {}

  // 0 done, 1 stopped (the reason is in the status list), else the option update's result.
  int run();

  // Its steps after the identification, in the order of their status lines. A check returns
  // true to go on; a step that can end the run returns nothing to go on, or the run's result.
  // True when hw has a memory extension bit (line added), else the two refusal lines and false.
  bool checkMemoryExtension(uint32_t hw);
  // True when the version can be updated automatically (version line added), else the stop
  // box and false.
  bool checkSoftwareVersion();
  // The option kind of the run from the hardware word: B1 before B10 before B20.
  void selectOptionKind(uint32_t hw);
  // The dry run's end: the job written to a temporary file, read and checked, and the plan.
  // False when the run stops (its lines and box shown).
  bool planDryRun(uint32_t hw);
  // Tried twice unless cancelled; the second failure's box.
  std::optional<int> updateProcessorFirmware();
  // The reboot into the new firmware, the hardware word compared, and for an instrument
  // without an option a new look for one.
  std::optional<int> waitUntilBooted(uint32_t hw);
  // Compares the session's hardware word with the one seen before the update: true when
  // equal; else the timer is stopped, the missing option reported and false returned.
  bool checkHardwareAfterUpdate(uint32_t expected);
  std::optional<int> findOptionAfterUpdate();
  // The option's DSP firmware, where one is fitted: the option update's result.
  int updateOption();

 private:
  RunContext& m_run;
};
