// Byte-to-echo time through a terminal server on loopback: ser2net lends a pseudo-terminal
// over Telnet with the COM-PORT-OPTION; the network serial backend echoes every byte that
// the far end of the line sends, one at a time, as the programming link does. Prints the
// median, 90th and 99th percentile over the bytes (10 000 unless given).
//   bench_rfc2217_echo [BYTES]
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "serial/rfc2217/rfc2217_device.h"
#include "serial/serial_device.h"
#include "tests/serial/rfc2217/ser2net_chain.h"

namespace {

int64_t nowNs() {
  using namespace std::chrono;
  return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

int main(int argc, char** argv) {
  const long count = argc > 1 ? std::atol(argv[1]) : 10000;
  if (count <= 0) {
    std::fprintf(stderr, "usage: bench_rfc2217_echo [BYTES]\n");
    return 2;
  }
  net_test::Ser2netChain chain;
  if (!chain.installed()) {
    std::fprintf(stderr, "ser2net is not installed\n");
    return 1;
  }
  if (!chain.ok()) {
    std::fprintf(stderr, "ser2net did not start\n");
    return 1;
  }
  serial::Rfc2217Device device(chain.portName());
  serial::LineSettings settings;
  settings.baudRate = 115200;
  if (!device.open() || !device.setSettings(settings)) {
    std::fprintf(stderr, "cannot open %s\n", chain.portName().c_str());
    return 1;
  }

  std::atomic<bool> stop{false};
  std::thread echo([&] {
    uint8_t byte = 0;
    while (!stop) {
      if (device.readByte(byte) != serial::ReadResult::Byte) continue;
      uint32_t written = 0;
      device.write(&byte, 1, written);
    }
  });

  std::vector<int64_t> times;
  times.reserve(static_cast<size_t>(count));
  long lost = 0;
  const int master = chain.masterFd();
  for (long i = 0; i < count; ++i) {
    const uint8_t sent = static_cast<uint8_t>(i * 37 + 11);
    const int64_t start = nowNs();
    if (::write(master, &sent, 1) != 1) break;
    bool back = false;
    while (!back && nowNs() - start < 1000000000) {
      pollfd entry{master, POLLIN, 0};
      if (::poll(&entry, 1, 100) <= 0) continue;
      uint8_t got = 0;
      if (::read(master, &got, 1) == 1 && got == sent) back = true;
    }
    if (!back) {
      ++lost;
      continue;
    }
    times.push_back(nowNs() - start);
  }
  stop = true;
  echo.join();
  device.close();
  if (times.empty()) {
    std::fprintf(stderr, "no byte came back\n");
    return 1;
  }
  std::sort(times.begin(), times.end());
  auto percentile = [&](double p) {
    return static_cast<double>(
               times[static_cast<size_t>(p * static_cast<double>(times.size() - 1))]) /
           1000.0;
  };
  std::printf(
      "bytes %zu (lost %ld), byte-to-echo through ser2net on loopback: median %.0f us, "
      "90%% %.0f us, 99%% %.0f us\n",
      times.size(), lost, percentile(0.5), percentile(0.9), percentile(0.99));
  return percentile(0.5) < 1000.0 ? 0 : 1;
}
