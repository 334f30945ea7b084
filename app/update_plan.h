// The plan of an automatic update as a dry run shows it, before the instrument is switched
// into update mode: each image with its size, SHA-256 and target area, the DSP image, the
// link speed and how long the update will take.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "flash/config/programming_job.h"

struct UpdatePlanInput {
  const ProgrammingJob* job = nullptr;  // read and checked
  const char* optionImage = nullptr;    // the DSP image of the option update; nullptr: none
  uint32_t dspPowerOnWaitMs = 0;        // the wait for the option's DSP after a boot
  bool intermediateBoot = false;        // the instrument boots between the two updates
  bool verify = false;                  // each image is read back after its checksum
  std::string backupFolder;             // the erase areas are read into it first; empty: none
};

// Seconds to read `bytes` of flash with the upload command: each chunk's request, its
// acknowledgement and the answer with the data, whose bytes wait for the host's echo.
double uploadSeconds(double bytes, double baud);

// The update's duration in seconds: the bytes each way at their link speed (the target
// echoes what it receives, and what it sends waits for the host's echo), plus the protocol's
// fixed waits (ready polls, erases, the reboot between the updates). Files that cannot be
// read count as empty.
double estimatedUpdateSeconds(const UpdatePlanInput& input);

// The plan's lines, without line ends.
std::vector<std::string> updatePlanLines(const UpdatePlanInput& input);
