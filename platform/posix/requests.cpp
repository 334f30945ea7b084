// Requests to stop as signals: SIGINT is the interrupt, SIGTERM and SIGHUP the request to
// end. The handler only counts and writes a byte into the wake pipe, both safe in a signal
// handler; the pump does the rest.
#include "platform/requests.h"

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>

#include "platform/posix/posix_shared.h"
#include "platform/request_counts.h"

namespace platform {
namespace {

// The signal of the last request to end, which endAsRequested raises.
std::atomic<int> g_endSignal{SIGTERM};
int g_wake[2] = {-1, -1};
std::once_flag g_wakeOnce;

std::atomic<int> g_restoreFd{-1};
termios g_restoreSettings{};

void endBySignal(int signal) {
  posix::restoreTerminal();
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

// The grace time after a second request is over: the program ends as the request ends it.
void onGraceOver(int) {
  endBySignal(g_endSignal.load());
}

void onSignal(int signal) {
  const int saved = errno;
  if (signal == SIGINT) {
    request_counts::countInterrupt();
  } else {
    g_endSignal.store(signal);
    const request_counts::TerminationCounted counted = request_counts::countTermination();
    if (counted.endNow) endBySignal(signal);
    if (counted.startGrace) {
      posix::restoreTerminal();
      struct sigaction over {};
      over.sa_handler = onGraceOver;
      sigemptyset(&over.sa_mask);
      ::sigaction(SIGALRM, &over, nullptr);
      ::alarm(counted.graceSeconds);
    }
  }
  posix::wake();
  errno = saved;
}

}  // namespace

namespace posix {

int wakeFd() {
  std::call_once(g_wakeOnce, [] {
    if (::pipe2(g_wake, O_CLOEXEC | O_NONBLOCK) != 0) g_wake[0] = g_wake[1] = -1;
  });
  return g_wake[0];
}

void wake() {
  if (g_wake[1] < 0) return;
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(g_wake[1], &byte, 1);  // a full pipe wakes too
}

void drainWake() {
  char bytes[64];
  while (g_wake[0] >= 0 && ::read(g_wake[0], bytes, sizeof bytes) > 0) {
  }
}

void setTerminalToRestore(int fd, const termios* settings) {
  g_restoreFd.store(-1);
  if (settings == nullptr) return;
  g_restoreSettings = *settings;
  g_restoreFd.store(fd);
}

bool terminalToRestore() {
  return g_restoreFd.load() >= 0;
}

void restoreTerminal() {
  const int fd = g_restoreFd.load();
  if (fd >= 0) ::tcsetattr(fd, TCSANOW, &g_restoreSettings);
}

}  // namespace posix

struct RequestCatcher::Saved {
  struct sigaction interrupt {};
  struct sigaction terminate {};
  struct sigaction hangUp {};
  bool interruptCaught = false;
  bool terminationCaught = false;
  request_counts::CatchSettings settings;
};

RequestCatcher::RequestCatcher(const RequestCatching& catching) : m_saved(new Saved) {
  posix::wakeFd();  // before any handler may write to it
  request_counts::beginCatching(catching, m_saved->settings);
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no restart: a wait sees the request at once
  if (catching.interrupt) {
    ::sigaction(SIGINT, &action, &m_saved->interrupt);
    m_saved->interruptCaught = true;
  }
  if (catching.termination) {
    ::sigaction(SIGTERM, &action, &m_saved->terminate);
    ::sigaction(SIGHUP, &action, &m_saved->hangUp);
    m_saved->terminationCaught = true;
  }
}

RequestCatcher::~RequestCatcher() {
  if (m_saved->interruptCaught) ::sigaction(SIGINT, &m_saved->interrupt, nullptr);
  if (m_saved->terminationCaught) {
    ::sigaction(SIGTERM, &m_saved->terminate, nullptr);
    ::sigaction(SIGHUP, &m_saved->hangUp, nullptr);
  }
  request_counts::endCatching(m_saved->settings);
  delete m_saved;
}

void postRequest(Request kind) {
  request_counts::countPosted(kind);
  posix::wakeFd();
  posix::wake();
}

void cancelEndGrace() {
  ::alarm(0);
}

void endAsRequested() {
  ::alarm(0);
  endBySignal(g_endSignal.load());
  ::_exit(128 + g_endSignal.load());  // where the signal is blocked
}

}  // namespace platform
