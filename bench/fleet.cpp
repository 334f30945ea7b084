// Many simulated instruments updated at once by `zelupdate fleet`, at 10 times real time:
// each update's duration against the same update alone, and the CPU time of the fleet
// process itself (its children excluded).
//
//   bench_fleet [COUNT...]        (default: 1 8 32)
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "cli/fleet.h"
#include "sim/sample_files.h"

namespace {

constexpr const char* kHardware[] = {"0x10000", "0x10020", "0x10400", "0x11000"};

std::string portFor(int index) {
  return "sim:version=04.40,speed=10,serial=" + std::to_string(100 + index) +
         ",hw=" + kHardware[index % 4];
}

double cpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Measured {
  std::vector<double> seconds;  // per instrument
  double wall = 0;
  double cpu = 0;
  int failed = 0;
};

Measured runFleetOf(const std::vector<std::string>& ports, const std::string& folder,
                    const std::string& program) {
  FleetOptions options;
  options.ports = ports;
  options.program = program;
  options.updateFolder = folder;
  options.workFolder = folder;
  options.settingsFile = folder + "/zelupdate.ini";
  options.outputFd = ::open("/dev/null", O_WRONLY);
  options.inputFd = ::open("/dev/null", O_RDONLY);
  options.catchSignals = false;
  FleetResult result;
  const double cpu0 = cpuSeconds();
  const auto t0 = std::chrono::steady_clock::now();
  runFleet(options, &result);
  Measured m;
  m.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  m.cpu = cpuSeconds() - cpu0;
  for (const FleetRow& row : result.rows) {
    m.seconds.push_back(row.seconds());
    if (row.outcome != "success") ++m.failed;
  }
  ::close(options.outputFd);
  ::close(options.inputFd);
  return m;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> counts;
  for (int i = 1; i < argc; ++i) counts.push_back(std::atoi(argv[i]));
  if (counts.empty()) counts = {1, 8, 32};

  char pattern[] = "/tmp/zelupdate-bench-fleet-XXXXXX";
  if (::mkdtemp(pattern) == nullptr || sim::writeSampleUpdateFiles(pattern) != 0) return 1;
  const std::string folder = pattern;
  const std::string program = ZEL_PROGRAM;

  // Each kind of update alone, one after the other.
  std::map<int, double> alone;
  for (int kind = 0; kind < 4; ++kind) {
    const Measured m = runFleetOf({portFor(kind)}, folder, program);
    alone[kind] = m.seconds.front();
    std::printf("alone  %-8s %6.2f s%s\n", kHardware[kind], alone[kind],
                m.failed ? "  FAILED" : "");
    std::fflush(stdout);
  }
  std::printf("\ninstruments  wall s  duration/alone mean  max   fleet CPU s  %% of one core\n");
  for (int count : counts) {
    std::vector<std::string> ports;
    for (int i = 0; i < count; ++i) ports.push_back(portFor(i));
    const Measured m = runFleetOf(ports, folder, program);
    double sum = 0, worst = 0;
    for (int i = 0; i < count; ++i) {
      const double ratio = m.seconds[static_cast<size_t>(i)] / alone[i % 4];
      sum += ratio;
      worst = std::max(worst, ratio);
    }
    std::printf("%11d  %6.1f  %19.3f  %5.3f  %11.3f  %12.2f%s\n", count, m.wall, sum / count, worst,
                m.cpu, 100 * m.cpu / m.wall, m.failed ? "  (failures!)" : "");
    std::fflush(stdout);
  }
  std::error_code error;
  std::filesystem::remove_all(folder, error);
  return 0;
}
