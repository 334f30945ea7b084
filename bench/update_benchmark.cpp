// Processor firmware update of a memory-extension job (image of 0xA0000 bytes) followed by
// the option update of a B20 module (ATSC.BIN of 0x40000 bytes), against the simulated
// instrument at 115200 bits/s on the virtual clock. Prints, per phase, the simulated
// seconds, the bytes that crossed the line each way, the time those bytes need on the line
// (line-bound time) and the ratio of the two; then the programming phase again with the
// host's adapter holding received bytes for 1 ms and for 16 ms (the latency timer of a USB
// adapter in low-latency mode and by default): every byte the target sends waits for its
// echo, so each one costs the latency once; then the real and CPU seconds of all runs.
// The first run also backs up the erase area before the erase and reads the image back after
// its checksum (the upload command at the speed of programming), each a phase of its own.
// With --show it also prints the status list as it grows, stamped with the simulated time.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "dsp/dsp_programming.h"
#include "dsp/option_update.h"
#include "flash/config/config_writer.h"
#include "flash/config/programming_job.h"
#include "flash/processor_update.h"
#include "flash/read_back.h"
#include "platform/clock.h"
#include "run/run_state.h"
#include "serial/com_ports.h"
#include "serial/comm.h"
#include "serial/device_factory.h"
#include "serial/forwarding_serial_device.h"
#include "sim/registry.h"
#include "sim/simulator_support.h"

namespace {

constexpr int kPortNo = 12;
constexpr const char* kInstrument = "sim:hw=0x11000";
constexpr uint32_t kLatenciesMs[] = {1, 16};
constexpr uint32_t kImageBytes = 0xA0000;
constexpr uint32_t kDspImageBytes = 0x40000;
// Start, 8 data, even parity, stop.
constexpr double kBitsPerCharacter = 11.0;

uint64_t g_bytesToTarget = 0;
uint64_t g_bytesFromTarget = 0;

// The simulated line, counting the bytes that cross it.
class CountingDevice : public serial::ForwardingSerialDevice {
 public:
  using ForwardingSerialDevice::ForwardingSerialDevice;

 protected:
  serial::ReadResult readByteImpl(uint8_t& byte) override {
    const serial::ReadResult result = m_inner->readByte(byte);
    if (result == serial::ReadResult::Byte) ++g_bytesFromTarget;
    return result;
  }
  bool writeImpl(const uint8_t* data, uint32_t size, uint32_t& written) override {
    const bool ok = m_inner->write(data, size, written);
    g_bytesToTarget += written;
    return ok;
  }
};

struct Phase {
  const char* name;
  const char* line;  // the status line that opens the phase
  uint32_t baud;
  uint64_t startMicros = 0, endMicros = 0;
  uint64_t toTargetStart = 0, toTarget = 0;
  uint64_t fromTargetStart = 0, fromTarget = 0;
  bool seen = false;
};

std::vector<Phase> g_phases = {
    {"loader", "Download bootloader", 19200},
    {"transfer program", "Download transfer program", 115200},
    {"erase", "Delete flash", 115200},
    {"program", "Download processor firmware", 115200},
    {"checksum", "Get checksum from target", 115200},
    {"DSP erase", "Erasing Flash ROMs on DSP module...", 115200},
    {"DSP program", "Programming Flash ROMs on DSP module...", 115200},
    {"DSP checksum", "Waiting for checksum from DSP module...", 115200},
    {"backup", "Back up processor flash", 115200},
    {"read back", "Read back processor firmware", 115200},
};

// A phase runs from the moment its line is appended until the line is rewritten with its
// outcome.
class PhaseClock : public StatusListObserver {
 public:
  void statusLineAdded(int, const std::string& text) override {
    const uint64_t now = platform::clock().nowMicros();
    for (Phase& phase : g_phases) {
      if (text == phase.line) {
        phase.startMicros = now;
        phase.toTargetStart = g_bytesToTarget;
        phase.fromTargetStart = g_bytesFromTarget;
        m_open = &phase;
        return;
      }
    }
    if (m_open && text.find(m_open->line) != std::string::npos) {
      m_open->endMicros = now;
      m_open->toTarget = g_bytesToTarget - m_open->toTargetStart;
      m_open->fromTarget = g_bytesFromTarget - m_open->fromTargetStart;
      m_open->seen = true;
      m_open = nullptr;
    }
  }
  void statusLineDeleted(int) override {}
  void statusListCleared() override {}

 private:
  Phase* m_open = nullptr;
};

// Prints each status line as it is appended, with the simulated time of the run.
class StatusPrinter : public StatusListObserver {
 public:
  void statusLineAdded(int, const std::string& text) override {
    std::printf("%8.3f s  %s\n", static_cast<double>(platform::clock().nowMicros()) / 1e6,
                text.c_str());
    std::fflush(stdout);
  }
  void statusLineDeleted(int) override {}
  void statusListCleared() override {}
};

std::string pattern(size_t size, uint32_t seed) {
  std::string bytes(size, '\0');
  uint32_t state = seed;
  for (char& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 16);
  }
  return bytes;
}

bool writeFile(const std::string& name, const std::string& contents) {
  std::FILE* file = std::fopen(name.c_str(), "wb");
  if (!file) return false;
  const bool ok = std::fwrite(contents.data(), 1, contents.size(), file) == contents.size();
  return std::fclose(file) == 0 && ok;
}

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct RunResult {
  int32_t processor = -1;
  int32_t option = -1;
};

// One processor update (with the extras given) and one option update at the adapter latency
// given.
RunResult runUpdates(uint32_t latencyMs, bool show, const ProcessorUpdateExtras& extras = {}) {
  for (Phase& phase : g_phases) phase = Phase{phase.name, phase.line, phase.baud};
  g_bytesToTarget = 0;
  g_bytesFromTarget = 0;
  sim::resetInstruments();
  const std::string instrument =
      std::string("count:") + kInstrument + ",latency=" + std::to_string(latencyMs);
  serial::setComPortDevice(kPortNo, instrument);
  resetRunState();
  deviceName = kDeviceNameZel;
  PhaseClock phases;
  addStatusListObserver(&phases);
  StatusPrinter printer;
  if (show) addStatusListObserver(&printer);

  // The instrument is switched into update mode by its text command, as the session does.
  RunResult result;
  CComm port;
  port.m_portNo = kPortNo;
  port.m_baudRate = 9600;
  port.m_parity = 0;
  port.m_handshake = 0;
  if (port.open() != 0 || !port.writeStringToPort("SENSE:SWUP\r\n")) {
    std::fprintf(stderr, "simulated instrument not reachable\n");
    removeStatusListObserver(&phases);
    removeStatusListObserver(&printer);
    return result;
  }
  platform::sleepMs(100);

  const uint64_t updateStart = platform::clock().nowMicros();
  result.processor = updateProcessorFirmware("romwrite.cnf", port, 0, extras);
  const uint64_t processorEnd = platform::clock().nowMicros();
  result.option = result.processor == 0 ? updateOption("romwrite.cnf", port, kOptionB20, 0) : -1;
  const uint64_t optionEnd = platform::clock().nowMicros();
  port.close();
  removeStatusListObserver(&phases);
  removeStatusListObserver(&printer);
  if (show) std::printf("\n");
  std::printf("latency %u ms: processor firmware update: result %d, %.1f s simulated\n", latencyMs,
              result.processor, static_cast<double>(processorEnd - updateStart) / 1e6);
  std::printf("latency %u ms: option update:             result %d, %.1f s simulated\n", latencyMs,
              result.option, static_cast<double>(optionEnd - processorEnd) / 1e6);
  return result;
}

double simulatedSeconds(const Phase& phase) {
  return static_cast<double>(phase.endMicros - phase.startMicros) / 1e6;
}

double lineBoundSeconds(const Phase& phase) {
  return static_cast<double>(phase.toTarget + phase.fromTarget) * kBitsPerCharacter / phase.baud;
}

void printPhase(const char* label, const Phase& phase) {
  const double lineBound = lineBoundSeconds(phase);
  std::printf("%-18s %10.3f %12llu %12llu %12.3f %7.3f\n", label, simulatedSeconds(phase),
              static_cast<unsigned long long>(phase.toTarget),
              static_cast<unsigned long long>(phase.fromTarget), lineBound,
              lineBound > 0 ? simulatedSeconds(phase) / lineBound : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  installSimulatorBackend();
  const bool show = argc > 1 && std::string(argv[1]) == "--show";
  const auto realStart = std::chrono::steady_clock::now();
  const double cpuStart = cpuSeconds();

  char folder[] = "/tmp/zel_bench_XXXXXX";
  if (!mkdtemp(folder) || chdir(folder) != 0) {
    std::perror("temporary folder");
    return 1;
  }
  if (!writeFile("ROMWRITE.URL", pattern(200, 1)) ||
      !writeFile("ROMWRITE.TRA", pattern(0x1800, 2)) ||
      !writeFile("NO_ATSC.bin", pattern(kImageBytes, 3)) ||
      !writeFile("ATSC.BIN", pattern(kDspImageBytes, 4)) ||
      writeAutomaticConfiguration(0x11000, true, kPortNo) != kConfigWritten) {
    std::fprintf(stderr, "cannot write the update files in %s\n", folder);
    return 1;
  }

  platform::VirtualClock clock;
  platform::ScopedClock scoped(clock);
  registerSerialDeviceFactory(
      "count:",
      [](const std::string& name) {
        return std::make_unique<CountingDevice>(createSerialDevice(name.substr(6)));
      },
      [](const std::string& name) { return probeSerialDevice(name.substr(6)); });

  const std::string backupFolder = std::string(folder) + "/backup";
  ProcessorUpdateExtras extras;
  extras.verify = true;
  extras.beforeErase = [&backupFolder](CComm& port) {
    std::vector<BackupArea> areas;
    return backupEraseAreas(programmingJob, backupFolder, areas, port);
  };
  const RunResult result = runUpdates(0, show, extras);
  std::remove((backupFolder + "/" + backupFileName(0x50000)).c_str());
  rmdir(backupFolder.c_str());
  std::printf("\n%-18s %10s %12s %12s %12s %7s\n", "phase", "sim s", "to target", "from target",
              "line-bound s", "ratio");
  for (const Phase& phase : g_phases) {
    if (phase.seen) printPhase(phase.name, phase);
  }
  std::printf("\nall bytes: %llu to target, %llu from target\n\n",
              static_cast<unsigned long long>(g_bytesToTarget),
              static_cast<unsigned long long>(g_bytesFromTarget));

  // The programming phase with an adapter that holds what it receives.
  const Phase& program = g_phases[3];
  std::vector<Phase> programs = {program};
  bool allOk = result.processor == 0 && result.option == 0;
  for (uint32_t latency : kLatenciesMs) {
    const RunResult again = runUpdates(latency, false);
    allOk = allOk && again.processor == 0 && again.option == 0;
    programs.push_back(g_phases[3]);
  }
  std::printf("\n%-18s %10s %12s %12s %12s %7s\n", "program, latency", "sim s", "to target",
              "from target", "line-bound s", "ratio");
  const char* const labels[] = {"0 ms", "1 ms", "16 ms"};
  for (size_t i = 0; i < programs.size(); ++i) printPhase(labels[i], programs[i]);

  const double real =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - realStart).count();
  std::printf("real %.3f s, CPU %.3f s\n", real, cpuSeconds() - cpuStart);

  for (const char* name :
       {"ROMWRITE.URL", "ROMWRITE.TRA", "NO_ATSC.bin", "ATSC.BIN", "ROMWRITE.CNF"})
    std::remove(name);
  if (chdir("/") == 0) rmdir(folder);
  return allOk ? 0 : 1;
}
