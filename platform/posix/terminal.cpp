// The console's terminal through termios, poll and TIOCGWINSZ.
#include "platform/terminal.h"

#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "platform/posix/posix_shared.h"

namespace platform {
namespace {

// A wait on output that a reader does not take is cut into slices of this length.
constexpr int kOutputPollMs = 100;

std::once_flag g_atExitOnce;

// A program started in the background (`zelupdate fleet ... &`) that touched its terminal
// would be stopped by the shell (SIGTTIN, SIGTTOU) and never finish: it leaves the terminal
// alone until it is in the foreground.
bool inBackground(int fd) {
  if (::isatty(fd) != 1) return false;
  const pid_t foreground = ::tcgetpgrp(fd);
  return foreground >= 0 && foreground != ::getpgrp();
}

}  // namespace

bool isTerminal(int fd) {
  return ::isatty(fd) == 1;
}

int terminalColumns(int fd) {
  winsize size{};
  if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 0;
}

struct RawKeys::Saved {
  termios settings{};
  // The outermost raw mode names what an ending program puts back; one made inside it
  // would only name the raw settings.
  bool restoresAtEnd = false;
};

RawKeys::RawKeys(int fd) : m_fd(fd) {
  termios settings{};
  if (inBackground(fd) || ::tcgetattr(fd, &settings) != 0) return;
  m_saved = new Saved{settings, !posix::terminalToRestore()};
  // A program that ends by exit() while the keys are raw still leaves the terminal usable.
  std::call_once(g_atExitOnce, [] { std::atexit(posix::restoreTerminal); });
  if (m_saved->restoresAtEnd) posix::setTerminalToRestore(fd, &settings);
  termios keys = settings;
  // Keys without Enter and without echo; ISIG stays, so that Ctrl-C is still a request.
  keys.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  keys.c_cc[VMIN] = 1;
  keys.c_cc[VTIME] = 0;
  ::tcsetattr(fd, TCSANOW, &keys);
  // Keys typed before (a stray Enter during a long run) answer nothing.
  ::tcflush(fd, TCIFLUSH);
}

RawKeys::~RawKeys() {
  if (!m_saved) return;
  ::tcsetattr(m_fd, TCSANOW, &m_saved->settings);
  if (m_saved->restoresAtEnd) posix::setTerminalToRestore(-1, nullptr);
  delete m_saved;
}

InputWait waitForInput(int fd, int timeoutMs) {
  // In the background the terminal's keys are not ours: only a wake-up ends the wait.
  if (inBackground(fd)) fd = -1;
  pollfd entries[2] = {{fd, POLLIN, 0}, {posix::wakeFd(), POLLIN, 0}};
  const nfds_t count = entries[1].fd >= 0 ? 2 : 1;
  const int ready = ::poll(entries, count, timeoutMs < 0 ? 0 : timeoutMs);
  if (ready < 0) return errno == EINTR ? InputWait::Woken : InputWait::Failed;
  if (count == 2 && entries[1].revents != 0) posix::drainWake();
  if (entries[0].revents & POLLNVAL) return InputWait::Failed;
  // A hang-up is ready too: the read that follows sees the end of the input.
  return entries[0].revents != 0 ? InputWait::Ready : InputWait::Woken;
}

int readInput(int fd, char* buffer, size_t maxBytes) {
  if (inBackground(fd)) return -1;
  pollfd entry{fd, POLLIN, 0};
  if (::poll(&entry, 1, 0) <= 0) return -1;
  for (;;) {
    const ssize_t got = ::read(fd, buffer, maxBytes);
    if (got >= 0) return static_cast<int>(got);
    if (errno != EINTR) return -1;
  }
}

bool writeOutput(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd entry{fd, POLLOUT, 0};
      ::poll(&entry, 1, kOutputPollMs);
    } else {
      return false;
    }
  }
  return true;
}

struct ClosedOutputTolerated::Saved {
  struct sigaction brokenPipe {};
};

ClosedOutputTolerated::ClosedOutputTolerated() : m_saved(new Saved) {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, &m_saved->brokenPipe);
}

ClosedOutputTolerated::~ClosedOutputTolerated() {
  ::sigaction(SIGPIPE, &m_saved->brokenPipe, nullptr);
  delete m_saved;
}

// The terminal takes the program's bytes as they are.
struct Utf8Console::Saved {};

Utf8Console::Utf8Console() = default;

Utf8Console::~Utf8Console() = default;

}  // namespace platform
