// Success rate of the processor firmware update over a damaged line: for each noise level
// (share of the host's packet bytes that arrive damaged) the update of a memory-extension
// job (image of 0xA0000 bytes) runs against the simulated instrument for 20 seeds on the
// virtual clock. The noise strikes every byte the host sends in the packet protocol, the
// echoes of the target's bytes included, and the target gives up a packet whose echo came
// back wrong. Prints the runs that reported success, the runs whose flash equals the image
// afterwards, the runs that ended on a lost answer, and the success rate that the retry
// budget predicts: a send is repeated when its request or the echo of its acknowledgement
// was damaged, up to five sends; the answer of a chunk is not asked for again, so a damaged
// echo of the answer ends the run.
//
// Usage: bench_noisy_line [P ...]   (default 0.0001 0.0005 0.001)
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "flash/config/config_writer.h"
#include "flash/processor_update.h"
#include "platform/clock.h"
#include "run/run_state.h"
#include "serial/com_ports.h"
#include "serial/comm.h"
#include "sim/registry.h"
#include "sim/sample_files.h"
#include "sim/simulator_support.h"

namespace {

constexpr int kPortNo = 12;
constexpr int kSeeds = 20;
constexpr uint32_t kImageAddress = 0x50000;
constexpr uint32_t kRequestBytes = 240 + 9 + 3;  // program data: header, data, framing
constexpr uint32_t kAcknowledgeBytes = 5;        // 02 20 00 and its sum, each echoed
constexpr uint32_t kAnswerBytes = 5;             // 02 A5 00 and its sum, each echoed
constexpr int kTries = 5;
// The code of a chunk whose answer did not come: the answer receive (+ 0x20000) timed out.
constexpr int32_t kAnswerLost = 0x20000 + 275;

std::vector<uint8_t> readFile(const char* name) {
  std::vector<uint8_t> bytes;
  if (std::FILE* file = std::fopen(name, "rb")) {
    int c;
    while ((c = std::fgetc(file)) != EOF) bytes.push_back(static_cast<uint8_t>(c));
    std::fclose(file);
  }
  return bytes;
}

struct Outcome {
  bool success;
  bool exact;
  bool answerLost;
};

Outcome runOnce(double noise, int seed, const std::vector<uint8_t>& image) {
  char options[96];
  std::snprintf(options, sizeof options, "sim:hw=0x10000,fault=noise=%g,seed=%d", noise, seed);
  sim::resetInstruments();
  resetRunState();
  deviceName = kDeviceNameZel;
  serial::setComPortDevice(kPortNo, options);

  CComm port;
  port.m_portNo = kPortNo;
  port.m_baudRate = 9600;
  port.m_parity = 0;
  port.m_handshake = 0;
  if (port.open() != 0 || !port.writeStringToPort("SENSE:SWUP\r\n")) return {false, false, false};
  platform::sleepMs(100);
  const int32_t result = updateProcessorFirmware("romwrite.cnf", port, 0);
  port.close();
  const auto flash =
      sim::instrumentFor(options)->flashBytes(kImageAddress, static_cast<uint32_t>(image.size()));
  return {result == 0, result == 0 && flash == image, result == kAnswerLost};
}

}  // namespace

int main(int argc, char** argv) {
  installSimulatorBackend();
  std::vector<double> levels;
  for (int i = 1; i < argc; ++i) levels.push_back(std::atof(argv[i]));
  if (levels.empty()) levels = {0.0001, 0.0005, 0.001};

  char folder[] = "/tmp/zel_noise_XXXXXX";
  if (!mkdtemp(folder) || chdir(folder) != 0 || sim::writeSampleUpdateFiles(".") != 0 ||
      writeAutomaticConfiguration(0x10000, false, kPortNo) != kConfigWritten) {
    std::fprintf(stderr, "cannot prepare the update files in %s\n", folder);
    return 1;
  }
  const std::vector<uint8_t> image = readFile("NO_ATSC.bin");
  const double requests = std::ceil(static_cast<double>(image.size()) / 240.0);

  platform::VirtualClock clock;
  platform::ScopedClock scoped(clock);
  std::printf("%-8s %10s %12s %12s %10s\n", "noise", "success", "exact image", "answer lost",
              "predicted");
  for (double noise : levels) {
    int success = 0, exact = 0, lost = 0;
    for (int seed = 1; seed <= kSeeds; ++seed) {
      const Outcome outcome = runOnce(noise, seed, image);
      success += outcome.success;
      exact += outcome.exact;
      lost += outcome.answerLost;
    }
    const double clean = 1.0 - noise;
    const double sendFails = 1.0 - std::pow(clean, kRequestBytes + kAcknowledgeBytes);
    const double chunkPasses = (1.0 - std::pow(sendFails, kTries)) * std::pow(clean, kAnswerBytes);
    const double predicted = std::pow(chunkPasses, requests);
    std::printf("%-8g %7d/%-2d %9d/%-2d %9d/%-2d %9.1f%%\n", noise, success, kSeeds, exact, kSeeds,
                lost, kSeeds, 100.0 * predicted);
  }
  serial::setComPortDevice(kPortNo, "");
  std::system((std::string("rm -rf ") + folder).c_str());
  return 0;
}
