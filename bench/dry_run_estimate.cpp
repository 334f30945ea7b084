// How close the dry run's estimate comes to the update it plans: for several hardware
// variants of the simulated instrument (on the virtual clock), `zelupdate run --dry-run`
// and then the real automatic update of the same instrument, each in the console front
// end. Prints per variant the estimate, the simulated seconds from the switch into update
// mode to the run's last status line, and the estimate's error.
//
// With --real, one variant (B20 without a boot between, the instrument's defaults otherwise)
// at real speed, where every byte the instrument sends waits for the host's real echo: on a
// sim: port in this process, or with --network through `zelupdate simulate --rfc2217` on
// loopback; --verify reads the image back. (A pseudo-terminal of `zelupdate simulate --pty`
// has no modem lines, so the update cannot switch the instrument into update mode there.)
//
//   bench_dry_run_estimate [--real [--verify] [--network]]
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "cli/command_line.h"
#include "cli/console_run.h"
#include "platform/child_process.h"
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

// The instrument's options of the real-speed variant.
constexpr const char* kRealInstrument = "hw=0x11000";
// The server prints where it listens within this time.
constexpr int kServerStartMs = 5000;

// `zelupdate simulate` serving the real-speed variant on loopback over RFC 2217. Its first
// line names the port.
class SimulateServer {
 public:
  bool start(std::string& port) {
    const std::vector<std::string> argv = {ZEL_PROGRAM, "simulate", "--rfc2217", "0",
                                           kRealInstrument};
    std::string why;
    if (!m_child.start(argv, std::string(), &why)) {
      std::fprintf(stderr, "cannot start %s: %s\n", ZEL_PROGRAM, why.c_str());
      return false;
    }
    std::string output;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kServerStartMs);
    while (output.find('\n') == std::string::npos && std::chrono::steady_clock::now() < until) {
      char chunk[256];
      const int got = m_child.readOutput(chunk, sizeof chunk);
      if (got < 0) break;
      if (got == 0) platform::waitForChildren({&m_child}, -1, 100);
      output.append(chunk, static_cast<size_t>(std::max(got, 0)));
    }
    if (output.find('\n') == std::string::npos) {
      std::fprintf(stderr, "the simulator said no port: %s\n", output.c_str());
      return false;
    }
    port = output.substr(0, output.find('\n'));
    return true;
  }
  ~SimulateServer() {
    if (!m_child.running()) return;
    m_child.terminate();
    platform::ChildExit ended;
    m_child.wait(true, ended);
  }

 private:
  platform::ChildProcess m_child;
};

struct Outcome {
  double estimate = -1;
  double measured = 0;
  bool failed = false;
};

// The dry run and then the update on one port.
Outcome planAndUpdate(ConsoleRunRequest request, const CommonOptions& common) {
  Outcome outcome;
  request.assumeYes = true;
  request.dryRun = true;
  outcome.failed = runQuietly(request, common, "dry-run.txt") != 0;
  outcome.estimate = estimateIn("dry-run.txt");
  UpdateClock clock;
  addStatusListObserver(&clock);
  request.dryRun = false;
  outcome.failed = runQuietly(request, common, "run.txt") != 0 || outcome.failed;
  removeStatusListObserver(&clock);
  outcome.measured = clock.seconds();
  return outcome;
}

double errorPercent(const Outcome& outcome) {
  return outcome.measured > 0 ? (outcome.estimate - outcome.measured) / outcome.measured * 100 : 0;
}

int virtualVariants(const CommonOptions& common) {
  std::printf("%-20s %10s %10s %8s\n", "variant", "estimate", "simulated", "error");
  double worst = 0;
  for (const Variant& variant : kVariants) {
    ConsoleRunRequest request;
    request.port = variant.instrument;
    const Outcome outcome = planAndUpdate(request, common);
    const double error = errorPercent(outcome);
    worst = std::max(worst, std::fabs(error));
    std::printf("%-20s %9.0fs %9.1fs %+7.1f%%%s\n", variant.name, outcome.estimate,
                outcome.measured, error, outcome.failed ? "  (a run failed)" : "");
  }
  std::printf("largest error %.1f %%\n", worst);
  return 0;
}

int realVariant(const CommonOptions& common, bool verify, bool network) {
  ConsoleRunRequest request;
  request.verify = verify;
  SimulateServer server;
  if (network) {
    if (!server.start(request.port)) return 1;
  } else {
    request.port = std::string("sim:") + kRealInstrument + ",speed=real";
  }
  std::printf("%s%s at real speed\n", request.port.c_str(), verify ? " with --verify" : "");
  std::fflush(stdout);
  const Outcome outcome = planAndUpdate(request, common);
  std::printf("estimate %.0f s, measured %.1f s, error %+.1f %%%s\n", outcome.estimate,
              outcome.measured, errorPercent(outcome), outcome.failed ? "  (a run failed)" : "");
  return outcome.failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool real = false, verify = false, network = false, unknown = false;
  for (int i = 1; i < argc && !unknown; ++i) {
    bool* flag = std::strcmp(argv[i], "--real") == 0      ? &real
                 : std::strcmp(argv[i], "--verify") == 0  ? &verify
                 : std::strcmp(argv[i], "--network") == 0 ? &network
                                                          : nullptr;
    unknown = flag == nullptr;
    if (flag) *flag = true;
  }
  if (unknown || (argc > 1 && !real)) {
    std::fprintf(stderr, "usage: %s [--real [--verify] [--network]]\n", argv[0]);
    return 2;
  }
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
  return real ? realVariant(common, verify, network) : virtualVariants(common);
}
