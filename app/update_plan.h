// The plan of an automatic update as a dry run shows it, before the instrument is switched
// into update mode: each image with its size, SHA-256 and target area, the DSP image, the
// link speed and how long the update will take.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "flash/config/programming_job.h"

// What holds up each byte the target sends, beyond its time on the line: the target sends its
// next byte only once the host's echo of this one is back, so each of them waits for the whole
// way from the target's line to this program and back.
struct EchoDelays {
  double adapterLatencyMs = 0;    // the host's adapter holds received bytes this long
  double networkRoundTripMs = 0;  // a network port: to the terminal server and back
};

// This host's own turnaround from a received byte to its echo on the way out: the median that
// bench_pty_echo measures through a pseudo-terminal and the termios backend (README,
// Measuring: 0.05 ms).
inline constexpr double kHostEchoTurnaroundMs = 0.05;

// Seconds that each byte the target sends waits beyond the line's time for its echo: the
// host's turnaround, the adapter's latency and the network's round trip.
double echoWaitSeconds(const EchoDelays& delays);

struct UpdatePlanInput {
  const ProgrammingJob* job = nullptr;  // read and checked
  const char* optionImage = nullptr;    // the DSP image of the option update; nullptr: none
  uint32_t dspPowerOnWaitMs = 0;        // the wait for the option's DSP after a boot
  bool intermediateBoot = false;        // the instrument boots between the two updates
  bool verify = false;                  // each image is read back after its checksum
  std::string backupFolder;             // the erase areas are read into it first; empty: none
  EchoDelays echo;                      // of the port the update will use
};

// Seconds to read `bytes` of flash with the upload command: each chunk's request, its
// acknowledgement and the answer with the data, whose bytes wait for the host's echo.
double uploadSeconds(double bytes, double baud, const EchoDelays& echo);

// The update's duration in seconds: the bytes each way at their link speed (the target
// echoes what it receives, and what it sends waits for the host's echo: twice its line time
// and the echo's delays), plus the protocol's fixed waits (ready polls, erases, the reboot
// between the updates). Files that cannot be read count as empty.
double estimatedUpdateSeconds(const UpdatePlanInput& input);

// The plan's lines, without line ends.
std::vector<std::string> updatePlanLines(const UpdatePlanInput& input);
