// What an automatic run of the windows' test instrument shows, the same in every window:
// the desktop window on Linux and the window on Windows are held to one list.
#pragma once

#include <string>
#include <vector>

namespace window_test {

// Firmware 4.40, memory extension, option B20; three refused program-data packets, so that
// the statistics lines show.
inline constexpr const char* kInstrument = "sim:version=04.40,hw=0x11000,fault=nack=3";
inline constexpr const char* kDone = "Update successfully completed.\nEXIT update program.";

// The status list at the end of the run.
inline std::vector<std::string> automaticRunLines() {
  return {
      "OK    Autoconnect with device",
      "OK    Get SW/HW info",
      "Processor board with memory extension",
      "Current software version ZEL: 04.40",
      "OK    Create configuration file",
      "OK    Set ZEL in update mode",
      "Preparing update environment",
      "OK    Check ZEL in update mode",
      "OK    Download bootloader",
      "OK    Download transfer program",
      "Update processor firmware",
      "OK    Delete flash",
      "OK    Download processor firmware",
      "OK    Get checksum from target",
      "OK    Update processor firmware completed",
      "OK    Wait until ZEL is booted",
      "Update processor firmware successfully completed",
      "OK    Set ZEL in update mode",
      "Update Option(B20)",
      "OK    Check ZEL in update mode",
      "OK    Download bootloader",
      "OK    Download transfer program",
      "OK    Erasing Flash ROMs on DSP module...",
      "OK    Programming Flash ROMs on DSP module...",
      "OK    Waiting for checksum from DSP module...",
      "Update of DSP option successfully completed",
  };
}

}  // namespace window_test
