// The processor firmware update through the network backend against the simulated
// instrument behind a small terminal server (the scripted one of the tests, which
// acknowledges TCP segments the way Linux does by default, that is late), and the same
// update on the local simulated port; both at real speed, so the line timing is the
// instrument's own. Prints both times and their ratio. Then the median and 99th percentile
// time of one open of the port (a close and an open at another speed, as a settings change
// does) through ser2net on loopback, and of five first opens (a new connection each).
//   bench_rfc2217_update [IMAGE_KIB [OPENS]]   (defaults: 64 KiB, 200 opens)
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "flash/config/config_writer.h"
#include "flash/processor_update.h"
#include "flash/result_codes.h"
#include "platform/clock.h"
#include "run/run_state.h"
#include "serial/com_ports.h"
#include "serial/comm.h"
#include "sim/registry.h"
#include "sim/simulator_support.h"
#include "tests/serial/rfc2217/scripted_server.h"
#include "tests/serial/rfc2217/ser2net_chain.h"

namespace {

constexpr int kPortNo = 13;
constexpr const char* kInstrument = "sim:hw=0x10000";

double nowSeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

bool writeFile(const std::string& name, const std::string& contents) {
  std::FILE* file = std::fopen(name.c_str(), "wb");
  if (!file) return false;
  const bool ok = std::fwrite(contents.data(), 1, contents.size(), file) == contents.size();
  return std::fclose(file) == 0 && ok;
}

// Real seconds of one processor update through the port name; negative when it failed.
double timeUpdate(const std::string& portName) {
  serial::setComPortDevice(kPortNo, portName);
  resetRunState();
  CComm port;
  port.m_portNo = kPortNo;
  port.m_baudRate = 9600;
  port.m_parity = 0;
  port.m_handshake = 0;
  if (port.open() != 0 || !port.writeStringToPort("SENSE:SWUP\r\n")) return -1;
  platform::sleepMs(100);
  const double start = nowSeconds();
  const int32_t result = updateProcessorFirmware("romwrite.cnf", port, 0);
  const double seconds = nowSeconds() - start;
  port.close();
  serial::setComPortDevice(kPortNo, "");
  return result == kResultOk ? seconds : -1;
}

}  // namespace

int main(int argc, char** argv) {
  installSimulatorBackend();
  const long imageKib = argc > 1 ? std::atol(argv[1]) : 64;
  const long opens = argc > 2 ? std::atol(argv[2]) : 200;
  if (imageKib <= 0 || imageKib > 1024 || opens <= 0) {
    std::fprintf(stderr, "usage: bench_rfc2217_update [IMAGE_KIB [OPENS]]\n");
    return 2;
  }
  char folder[] = "/tmp/zel_bench_XXXXXX";
  if (!::mkdtemp(folder) || ::chdir(folder) != 0) {
    std::perror("temporary folder");
    return 1;
  }
  std::string image(static_cast<size_t>(imageKib) * 1024, '\0');
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7 + (i >> 8));
  if (!writeFile("ROMWRITE.URL", std::string(200, '\x5a')) ||
      !writeFile("ROMWRITE.TRA", std::string(0x800, '\x3c')) || !writeFile("NO_ATSC.bin", image) ||
      writeAutomaticConfiguration(0x10000, false, kPortNo) != kConfigWritten) {
    std::fprintf(stderr, "cannot write the update files in %s\n", folder);
    return 1;
  }

  // The instrument follows the program clock at real speed; the server's thread reads it
  // without sleeping on it.
  net_test::BridgeClock clock(1.0);
  platform::ScopedClock scoped(clock);
  sim::resetInstruments();
  double network = -1;
  {
    net_test::ServerScript script;
    script.simPortName = kInstrument;
    net_test::ScriptedServer server(script, &clock);
    network = timeUpdate(server.portName());
  }
  sim::resetInstruments();
  const double local = timeUpdate(kInstrument);
  sim::resetInstruments();
  if (network < 0 || local < 0) {
    std::fprintf(stderr, "update failed (network %.1f s, local %.1f s)\n", network, local);
    return 1;
  }
  std::printf("processor update of %ld KiB: network %.2f s, local %.2f s, ratio %.3f\n", imageKib,
              network, local, network / local);

  int status = network / local <= 1.05 ? 0 : 1;
  net_test::Ser2netChain chain;
  if (!chain.installed() || !chain.ok()) {
    std::fprintf(stderr, "ser2net is not installed or did not start: no open times\n");
  } else {
    serial::setComPortDevice(kPortNo, chain.portName());
    CComm port;
    port.m_portNo = kPortNo;
    port.m_handshake = 0;
    std::vector<double> times;
    for (long i = 0; i < opens; ++i) {
      port.m_baudRate = i % 2 ? 19200 : 9600;
      const double start = nowSeconds();
      if (port.open() != 0) {
        std::fprintf(stderr, "open %ld through ser2net failed\n", i);
        return 1;
      }
      times.push_back((nowSeconds() - start) * 1000.0);
    }
    port.close();
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    const double p99 = times[static_cast<size_t>(0.99 * static_cast<double>(times.size() - 1))];
    std::printf(
        "open through ser2net on loopback, settings change (%zu opens): median %.1f ms, "
        "99%% %.1f ms\n",
        times.size(), median, p99);
    // A first open: no connection kept from a close (those end after 2 s).
    std::vector<double> fresh;
    for (int i = 0; i < 5; ++i) {
      platform::sleepMs(2200);
      const double start = nowSeconds();
      if (port.open() != 0) return 1;
      fresh.push_back((nowSeconds() - start) * 1000.0);
      port.close();
    }
    std::sort(fresh.begin(), fresh.end());
    std::printf(
        "open through ser2net on loopback, new connection (%zu opens): median %.1f ms, "
        "max %.1f ms\n",
        fresh.size(), fresh[fresh.size() / 2], fresh.back());
    serial::setComPortDevice(kPortNo, "");
    if (p99 >= 20.0) status = 1;
  }
  for (const char* name : {"ROMWRITE.URL", "ROMWRITE.TRA", "NO_ATSC.bin", "ROMWRITE.CNF"})
    std::remove(name);
  if (::chdir("/") == 0) ::rmdir(folder);
  return status;
}
