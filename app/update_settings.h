// The selections that the main dialog holds and the configuration dialog edits: the serial
// line (carried through the configuration dialog unchanged) and what a manual run updates.
#pragma once

#include <cstdint>

#include "dsp/option_kinds.h"
#include "flash/config/config_writer.h"

// Combo box positions of the configuration dialog's RS-232 section; portNumber is the COM
// number (1-based) and also the session's port.
struct SerialSettings {
  int32_t portNumber = 1;
  int32_t baudIndex = 3;       // 0 = 1200, 1 = 2400, 2 = 4800, 3 = 9600, 4 = 19200
  int32_t dataBitsIndex = 1;   // 0 = 7, 1 = 8
  int32_t parityIndex = 2;     // 0 = NONE, 1 = ODD, 2 = EVEN
  int32_t stopBitsIndex = 0;   // 0 = 1, 1 = 2
  int32_t handshakeIndex = 0;  // list position: 0 = NONE, 1 = XON/XOFF, 2 = RTS/CTS
};

struct UpdateSettings {
  int32_t memoryExtension = 1;
  int32_t nicamMode = 0;  // no control sets it
  int32_t mpegMode = 0;   // no control sets it
  int32_t noOption = 1;
  int32_t optionB1 = 0;
  int32_t optionB20 = 0;
  int32_t optionB10 = 0;
  int32_t processorFirmware = 1;  // manual mode: update the processor firmware
  int32_t optionUpdate = 0;       // manual mode: update the option's DSP firmware
  int32_t optionKind = kOptionNone;
};

// The selections that the manual configuration file is written from.
inline ManualSelections manualSelectionsOf(const UpdateSettings& settings) {
  ManualSelections selections;
  selections.memoryExtension = settings.memoryExtension;
  selections.mpegMode = settings.mpegMode;
  selections.optionB1 = settings.optionB1;
  selections.optionB20 = settings.optionB20;
  selections.optionB10 = settings.optionB10;
  selections.optionUpdate = settings.optionUpdate;
  return selections;
}
