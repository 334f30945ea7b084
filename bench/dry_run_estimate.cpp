// How close the dry run's estimate comes to the update it plans: for several hardware
// variants of the simulated instrument (on the virtual clock), `zelupdate run --dry-run`
// and then the real automatic update of the same instrument, each in the console front
// end. Prints per variant the estimate, the simulated seconds from the switch into update
// mode to the run's last status line, and the estimate's error.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "cli/command_line.h"
#include "cli/console_run.h"
#include "platform/clock.h"
#include "run/run_state.h"
#include "sim/simulator_support.h"

namespace {

struct Variant {
  const char* name;
  const char* instrument;
};

constexpr Variant kVariants[] = {
    {"B20, boot between", "sim:hw=0x11000,version=04.40,speed=virtual"},
    {"B20, no boot", "sim:hw=0x11000,version=04.50,speed=virtual,serial=2"},
    {"B1, boot between", "sim:hw=0x10020,version=04.40,speed=virtual,serial=3"},
    {"B10, no boot", "sim:hw=0x10400,version=04.60,speed=virtual,serial=4"},
    {"no option, boot", "sim:hw=0x10000,version=04.40,speed=virtual,serial=5"},
    {"no option", "sim:hw=0x10000,version=04.50,speed=virtual,serial=6"},
};

// The simulated time of the update: from the line that switches the instrument into update
// mode to the last line of the run.
class UpdateClock : public StatusListObserver {
 public:
  void statusLineAdded(int, const std::string& text) override {
    const uint64_t now = platform::clock().nowMicros();
    if (m_start == 0 && text.find("in update mode") != std::string::npos &&
        text.rfind("Set ", 0) == 0) {
      m_start = now;
    }
    m_last = now;
  }
  void statusLineDeleted(int) override { m_last = platform::clock().nowMicros(); }
  void statusListCleared() override {}
  double seconds() const { return m_start ? static_cast<double>(m_last - m_start) / 1e6 : 0; }

 private:
  uint64_t m_start = 0;
  uint64_t m_last = 0;
};

// Runs one console run with its output in the file; the exit status.
int runQuietly(const ConsoleRunRequest& request, const CommonOptions& common,
               const std::string& outputFile) {
  std::fflush(stdout);
  const int saved = ::dup(1);
  const int out = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ::dup2(out, 1);
  ::close(out);
  const int status = runInConsole(request, common);
  std::fflush(stdout);
  ::dup2(saved, 1);
  ::close(saved);
  return status;
}

// "  estimate  1 min 05 s" or "  estimate  42 s" in seconds; -1 when absent.
double estimateIn(const std::string& outputFile) {
  std::ifstream in(outputFile);
  for (std::string line; std::getline(in, line);) {
    const size_t at = line.find("estimate  ");
    if (at == std::string::npos) continue;
    std::istringstream words(line.substr(at + 10));
    double first = 0, second = 0;
    std::string unit;
    words >> first >> unit;
    if (unit == "s") return first;
    words >> second;
    return first * 60 + second;
  }
  return -1;
}

}  // namespace

int main() {
  installSimulatorBackend();
  char folder[] = "/tmp/zel_estimate_XXXXXX";
  if (!::mkdtemp(folder) || writeSampleUpdateSet(folder) != 0 || ::chdir(folder) != 0) {
    std::perror("sample update set");
    return 1;
  }
  CommonOptions common;
  common.programPath = "zelupdate";
  common.settingsFile = std::string(folder) + "/zelupdate.ini";
  common.noHistory = true;

  std::printf("%-20s %10s %10s %8s\n", "variant", "estimate", "simulated", "error");
  double worst = 0;
  for (const Variant& variant : kVariants) {
    ConsoleRunRequest request;
    request.port = variant.instrument;
    request.assumeYes = true;
    request.dryRun = true;
    const int planned = runQuietly(request, common, "dry-run.txt");
    const double estimate = estimateIn("dry-run.txt");

    UpdateClock clock;
    addStatusListObserver(&clock);
    request.dryRun = false;
    const int updated = runQuietly(request, common, "run.txt");
    removeStatusListObserver(&clock);

    const double simulated = clock.seconds();
    const double error = simulated > 0 ? (estimate - simulated) / simulated * 100 : 0;
    worst = std::max(worst, std::fabs(error));
    std::printf("%-20s %9.0fs %9.1fs %+7.1f%%%s\n", variant.name, estimate, simulated, error,
                planned == 0 && updated == 0 ? "" : "  (a run failed)");
  }
  std::printf("largest error %.1f %%\n", worst);
  return 0;
}
