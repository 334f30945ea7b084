// The cost of byte-by-byte echoing on a real tty: over a pseudo-terminal a peer process
// sends one byte at a time and waits for its echo; the host side is the port class on the
// termios backend, which echoes each byte the way the programming link does (a read of one
// byte, then a write of it with the flush after it). Prints the median, 90th percentile,
// 99th percentile and maximum time from a byte written by the peer to its echo readable by
// the peer, and the host's CPU time per echo.
//
//   bench_pty_echo [--bytes N]      (default 10000)
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "flash/programming_link.h"
#include "serial/com_ports.h"
#include "serial/comm.h"

namespace {

constexpr int kPortNo = 14;
constexpr int kDefaultBytes = 10000;
// The programming link echoes at most 255 bytes per call (a packet's data).
constexpr uint32_t kEchoChunk = 200;
// The peer gives up on an echo after this long (the host is stuck or gone).
constexpr int kEchoTimeoutMs = 2000;
constexpr double kGoalMs = 0.2;

using Clock = std::chrono::steady_clock;

// The host: opens the port at the link's settings and echoes `total` bytes. Returns the
// process exit code.
int runHost(const std::string& slavePath, int total) {
  serial::setComPortDevice(kPortNo, slavePath);
  CComm port;
  port.m_portNo = kPortNo;
  port.m_parity = 2;
  port.m_handshake = 0;
  if (openProgrammingLink(115200, kEchoTimeoutMs, port) != 0) {
    std::fprintf(stderr, "host: cannot open %s\n", slavePath.c_str());
    return 1;
  }
  // Tell the peer that the port is open: one byte that is not echoed.
  const uint8_t ready = '!';
  if (port.writeBufferToPort(&ready, 1) == 0) return 1;

  rusage before{}, after{};
  ::getrusage(RUSAGE_SELF, &before);
  uint8_t buffer[kEchoChunk];
  int done = 0;
  while (done < total) {
    const uint32_t count = std::min<uint32_t>(kEchoChunk, static_cast<uint32_t>(total - done));
    if (receiveBytes(buffer, count, true, port) != count) {
      std::fprintf(stderr, "host: echo stopped after %d bytes\n", done);
      port.close();
      return 1;
    }
    done += static_cast<int>(count);
  }
  ::getrusage(RUSAGE_SELF, &after);
  // The peer says when it has the last echo: closing the port earlier could discard it.
  uint8_t finished = 0;
  uint32_t got = 0;
  port.readBufferFromPort(&finished, got, 1);
  const auto micros = [](const rusage& usage) {
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000.0 + usage.ru_utime.tv_usec +
           usage.ru_stime.tv_usec;
  };
  std::printf("host CPU per echo:  %.1f us\n", (micros(after) - micros(before)) / total);
  std::fflush(stdout);
  port.close();
  return 0;
}

// Waits until the master has a byte and reads it. False on a time-out or a hang-up.
bool readByte(int master, uint8_t& byte) {
  pollfd entry{master, POLLIN, 0};
  for (;;) {
    const int ready = ::poll(&entry, 1, kEchoTimeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    const ssize_t got = ::read(master, &byte, 1);
    if (got == 1) return true;
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    return false;
  }
}

double percentile(const std::vector<double>& sorted, double fraction) {
  const size_t index = static_cast<size_t>(fraction * static_cast<double>(sorted.size() - 1));
  return sorted[index];
}

}  // namespace

int main(int argc, char** argv) {
  int total = kDefaultBytes;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--bytes") == 0 && i + 1 < argc) {
      total = std::atoi(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: %s [--bytes N]\n", argv[0]);
      return 2;
    }
  }
  if (total <= 0) total = kDefaultBytes;

  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  char name[128] = {};
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
      ::ptsname_r(master, name, sizeof name) != 0) {
    std::fprintf(stderr, "no pseudo-terminal available\n");
    return 1;
  }
  std::fflush(stdout);
  const pid_t host = ::fork();
  if (host < 0) return 1;
  if (host == 0) {
    ::close(master);
    ::_exit(runHost(name, total));
  }

  // The peer: wait for the host's "ready" byte, then one byte at a time.
  uint8_t byte = 0;
  if (!readByte(master, byte)) {
    std::fprintf(stderr, "peer: the host did not open the port\n");
    ::kill(host, SIGTERM);
    ::waitpid(host, nullptr, 0);
    return 1;
  }
  std::vector<double> millis;
  millis.reserve(static_cast<size_t>(total));
  int failures = 0;
  for (int i = 0; i < total; ++i) {
    const uint8_t sent = static_cast<uint8_t>(i * 37 + 11);
    const auto start = Clock::now();
    if (::write(master, &sent, 1) != 1 || !readByte(master, byte)) {
      std::fprintf(stderr, "peer: no echo for byte %d\n", i);
      failures = total - i;
      break;
    }
    millis.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    if (byte != sent) ++failures;
  }
  const uint8_t finished = '.';
  if (::write(master, &finished, 1) != 1) ++failures;
  int status = 0;
  ::waitpid(host, &status, 0);
  ::close(master);
  if (millis.empty()) return 1;

  std::vector<double> sorted = millis;
  std::sort(sorted.begin(), sorted.end());
  double sum = 0;
  for (double value : sorted) sum += value;
  const double median = percentile(sorted, 0.5);
  std::printf("echoes:             %zu over %s (wrong or missing: %d)\n", sorted.size(), name,
              failures);
  std::printf("byte to echo, ms:   median %.3f  p90 %.3f  p99 %.3f  max %.3f  mean %.3f\n", median,
              percentile(sorted, 0.9), percentile(sorted, 0.99), sorted.back(),
              sum / static_cast<double>(sorted.size()));
  std::printf("goal:               median under %.1f ms: %s\n", kGoalMs,
              median < kGoalMs ? "met" : "NOT met");
  const bool hostOk = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return failures == 0 && hostOk ? 0 : 1;
}
