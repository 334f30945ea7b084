// The Win32 serial backend on a real COM port (under Wine: a pseudo-terminal mapped to COMn
// whose far end echoes every byte). Checks what a port shows from outside and inside, then
// measures the echo round trip the programming link lives on: one byte written, its echo
// read back, as the link does it. Prints each check, the wait of an empty read and the round
// trip (median, p90, p99, max); exits 1 when a check fails or an echo is wrong or missing.
//
//   bench_win32_echo [--port COM5] [--absent COM199] [--bytes N]     (default 2000 bytes)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "serial/win32/comm_api.h"
#include "serial/win32/win32_device.h"

namespace {

using serial::ProbeResult;
using serial::ReadResult;
using serial::Win32SerialDevice;
using Clock = std::chrono::steady_clock;

constexpr int kDefaultBytes = 2000;
// An echo that has not come back after this many empty reads (100 ms each) is missing.
constexpr int kEchoEmptyReads = 20;

int g_failures = 0;

void report(const char* what, const char* result) {
  std::printf("%-58s %s\n", what, result);
}

void check(bool ok, const char* what) {
  report(what, ok ? "ok" : "FAILED");
  if (!ok) ++g_failures;
}

ProbeResult probe(const std::string& port) {
  auto api = serial::createWindowsCommApi();
  return Win32SerialDevice::probe(port, *api);
}

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double percentile(const std::vector<double>& sorted, double fraction) {
  return sorted[static_cast<size_t>(fraction * static_cast<double>(sorted.size() - 1))];
}

}  // namespace

int main(int argc, char** argv) {
  std::string port = "COM5";
  std::string absent = "COM199";
  int total = kDefaultBytes;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--port") == 0) {
      port = argv[i + 1];
    } else if (std::strcmp(argv[i], "--absent") == 0) {
      absent = argv[i + 1];
    } else if (std::strcmp(argv[i], "--bytes") == 0) {
      total = std::atoi(argv[i + 1]);
    }
  }
  if (total <= 0) total = kDefaultBytes;

  check(probe(port) == ProbeResult::Free, "probe of the free port: free");
  check(probe(absent) == ProbeResult::Absent, "probe of a port that does not exist: absent");

  Win32SerialDevice device(port, serial::createWindowsCommApi());
  if (!device.open()) {
    check(false, "open");
    return 1;
  }
  // Windows keeps a taken port to its owner; Wine lets a device be opened again (it is a
  // file of the host there), so these two are shown, not checked.
  Win32SerialDevice second(port, serial::createWindowsCommApi());
  const bool secondOpened = second.open();
  second.close();
  report("probe of the open port (Windows: in use)",
         probe(port) == ProbeResult::InUse ? "in use" : "not in use");
  report("a second open of the open port (Windows: refused)", secondOpened ? "opened" : "refused");

  serial::LineSettings settings;
  check(device.setQueueSizes(32000, 5072), "driver queues 32000 / 5072");
  check(device.purge(true, true), "purge both ways");
  check(device.getSettings(settings), "line settings read");
  settings.baudRate = 115200;
  settings.dataBits = 8;
  settings.parity = serial::Parity::None;
  settings.parityCheck = false;
  settings.stopBits = serial::StopBits::One;
  settings.outxCtsFlow = settings.outxDsrFlow = settings.outX = settings.inX = false;
  check(device.setSettings(settings), "115200 8N1 without handshake set");
  serial::LineSettings back;
  check(device.getSettings(back) && back.baudRate == 115200 && back.dataBits == 8,
        "line settings read back");
  bool held = true;
  check(device.outputHeld(held) && !held, "output not held");

  uint8_t byte = 0;
  auto start = Clock::now();
  const ReadResult empty = device.readByte(byte);
  const double emptyMs = msSince(start);
  check(empty == ReadResult::Empty, "a read with nothing to come returns empty");

  std::vector<double> millis;
  millis.reserve(static_cast<size_t>(total));
  int wrong = 0;
  for (int i = 0; i < total; ++i) {
    const uint8_t sent = static_cast<uint8_t>(i * 37 + 11);
    uint32_t written = 0;
    start = Clock::now();
    if (!device.write(&sent, 1, written) || written != 1) {
      ++wrong;
      break;
    }
    ReadResult got = ReadResult::Empty;
    for (int tries = 0; tries < kEchoEmptyReads && got == ReadResult::Empty; ++tries) {
      got = device.readByte(byte);
    }
    if (got != ReadResult::Byte) {
      std::printf("no echo for byte %d\n", i);
      wrong += total - i;
      break;
    }
    millis.push_back(msSince(start));
    if (byte != sent) ++wrong;
  }
  check(wrong == 0, "every byte echoed unchanged");
  check(device.drain(), "drain");
  bool cts = false, dsr = false;
  const bool modem = device.modemStatus(cts, dsr);
  report("modem lines (none on a pseudo-terminal)",
         modem ? (cts ? "CTS on" : "CTS off") : "not available");
  device.close();
  check(probe(port) == ProbeResult::Free, "probe after close: free");

  std::printf("empty read returned after:  %.1f ms\n", emptyMs);
  if (!millis.empty()) {
    std::vector<double> sorted = millis;
    std::sort(sorted.begin(), sorted.end());
    std::printf(
        "echo round trip, ms:        median %.3f  p90 %.3f  p99 %.3f  max %.3f  (%zu bytes)\n",
        percentile(sorted, 0.5), percentile(sorted, 0.9), percentile(sorted, 0.99), sorted.back(),
        sorted.size());
  }
  return g_failures == 0 ? 0 : 1;
}
