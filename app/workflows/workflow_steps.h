// What every workflow does with the status line of a step: the device's name in its text,
// OK when it succeeds, ERROR with the code the run's record takes when it fails.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "flash/processor_update.h"
#include "flash/result_codes.h"
#include "run/run_state.h"

// A text with the device's name where the format has its %s.
inline std::string withDevice(const char* format) {
  char text[256];
  std::snprintf(text, sizeof text, format, deviceName);
  return text;
}

inline void markOk() {
  setStepStatus(1, 0);
}

// What markFailed(code) does to a step: the code its line shows (0: none) and the code the
// run's record takes.
struct FailedStep {
  int32_t lineCode;
  int32_t recordCode;
};
inline FailedStep failedStep(int32_t code) {
  if (cancelRequested != 0) return {kResultCancelled, kResultCancelled};
  return {0, code};
}

// A failed step whose line carries no code: the run's record takes this one. A step that
// failed because the user cancelled (its wait was abandoned) shows the cancel's code.
inline void markFailed(int32_t code) {
  const FailedStep failed = failedStep(code);
  setStepStatus(0, failed.lineCode);
  noteFailureCode(failed.recordCode);
}
