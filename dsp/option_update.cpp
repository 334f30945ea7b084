#include "dsp/option_update.h"

#include <cstdio>
#include <string>

#include "dsp/dsp_programming.h"
#include "flash/processor_update.h"
#include "flash/result_codes.h"
#include "flash/target_commands.h"
#include "run/run_state.h"

namespace {

std::string withDeviceName(const char* format) {
  char line[256];
  std::snprintf(line, sizeof line, format, deviceName);
  return line;
}

}  // namespace

int32_t updateOption(const char* configFileName, CComm& port, int32_t optionKind, int32_t prepare) {
  if (prepare != 0) {
    const int32_t prepared = prepareUpdateTarget(configFileName, port, kOptionLinkTimeoutMs);
    if (prepared != kResultOk) return prepared;
  }

  // Every path that reaches the module ends with a boot request, so the instrument does
  // not stay in update mode; after a failed module the CMOS RAM is left alone.
  const int32_t dspResult = programDspOption(port, optionKind);
  if (dspResult != kResultOk) {
    bootTarget(port);
    return dspResult;
  }
  int32_t result = deleteCmosRam(port);
  if (result != 0) {
    addStatusLine(withDeviceName("ERROR - CMOS-RAM of %s could not be deleted"));
    noteFailureCode(result);
    return result;
  }
  result = bootTarget(port);
  if (result != 0) {
    addStatusLine(withDeviceName("ERROR - %s could not be booted"));
    noteFailureCode(result);
    return result;
  }
  return kResultOk;
}
