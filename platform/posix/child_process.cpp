// Child processes through fork and execv. Each child leads a process group of its own, so
// that Ctrl-C at the terminal reaches the parent alone and ending a child ends whatever it
// started; PR_SET_PDEATHSIG has the kernel send it SIGTERM when the parent dies.
#include "platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/posix_shared.h"

namespace platform {
namespace {

// What a child that could not run tells its parent through the report pipe.
struct StartFailure {
  int step;  // kEnterFolder or kRun
  int error;
};
constexpr int kEnterFolder = 1;
constexpr int kRun = 2;

void closeBoth(int pipe[2]) {
  if (pipe[0] >= 0) ::close(pipe[0]);
  if (pipe[1] >= 0) ::close(pipe[1]);
}

// In the child between fork and exec: async-signal-safe calls only.
[[noreturn]] void becomeChild(pid_t parent, int output, int report, char* const* argv,
                              const char* folder) {
  ::setpgid(0, 0);
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (::getppid() != parent) _exit(127);  // the parent died before the line above
  for (const int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP}) ::signal(signal, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  const int devNull = ::open("/dev/null", O_RDONLY);
  if (devNull >= 0) ::dup2(devNull, 0);
  ::dup2(output, 1);
  ::dup2(output, 2);
  StartFailure failure{kEnterFolder, 0};
  if (*folder == '\0' || ::chdir(folder) == 0) {
    ::execv(argv[0], argv);
    failure.step = kRun;
  }
  failure.error = errno;
  [[maybe_unused]] const ssize_t n = ::write(report, &failure, sizeof failure);
  _exit(127);
}

}  // namespace

void ChildProcess::releaseNative() {
  if (m_output >= 0) ::close(static_cast<int>(m_output));
}

bool ChildProcess::startNative(const std::vector<std::string>& argv, const std::string& folder,
                               std::string& why) {
  const auto fail = [&why](const std::string& text) {
    why = text;
    return false;
  };
  std::vector<std::string> args = argv;
  std::vector<char*> pointers;
  for (std::string& arg : args) pointers.push_back(arg.data());
  pointers.push_back(nullptr);

  int output[2] = {-1, -1};
  int report[2] = {-1, -1};
  if (::pipe2(output, O_CLOEXEC) != 0 || ::pipe2(report, O_CLOEXEC) != 0) {
    const int error = errno;
    closeBoth(output);
    closeBoth(report);
    return fail(std::string("cannot create a pipe: ") + std::strerror(error));
  }
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) becomeChild(parent, output[1], report[1], pointers.data(), folder.c_str());
  const int forkError = errno;
  ::close(output[1]);
  ::close(report[1]);
  if (pid < 0) {
    ::close(output[0]);
    ::close(report[0]);
    return fail(std::string("cannot start: ") + std::strerror(forkError));
  }
  ::setpgid(pid, pid);  // as the child does, whichever of the two runs first
  // The report pipe closes at the exec; a failure comes through it before that.
  StartFailure failure{};
  ssize_t got;
  do {
    got = ::read(report[0], &failure, sizeof failure);
  } while (got < 0 && errno == EINTR);
  ::close(report[0]);
  if (got == static_cast<ssize_t>(sizeof failure)) {
    ::waitpid(pid, nullptr, 0);
    ::close(output[0]);
    return fail(failure.step == kEnterFolder
                    ? "cannot enter " + folder + ": " + std::strerror(failure.error)
                    : "cannot run " + argv[0] + ": " + std::strerror(failure.error));
  }
  ::fcntl(output[0], F_SETFL, O_NONBLOCK);
  m_process = pid;
  m_output = output[0];
  return true;
}

int ChildProcess::readOutput(char* buffer, size_t maxBytes) {
  if (m_output < 0) return -1;
  for (;;) {
    const ssize_t n = ::read(static_cast<int>(m_output), buffer, maxBytes);
    if (n > 0) return static_cast<int>(n);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
    ::close(static_cast<int>(m_output));  // the end of the output (or a broken pipe)
    m_output = -1;
    return -1;
  }
}

void ChildProcess::terminate() {
  if (running()) ::kill(-static_cast<pid_t>(m_process), SIGTERM);
}

void ChildProcess::kill() {
  if (running()) ::kill(-static_cast<pid_t>(m_process), SIGKILL);
}

bool ChildProcess::wait(bool block, ChildExit& exit) {
  if (!running()) return false;
  int status = 0;
  pid_t done;
  do {
    done = ::waitpid(static_cast<pid_t>(m_process), &status, block ? 0 : WNOHANG);
  } while (done < 0 && errno == EINTR);
  if (done == 0) return false;
  m_process = -1;
  exit = ChildExit{};
  if (done < 0) {
    exit.cause = std::string("lost: ") + std::strerror(errno);
  } else if (WIFEXITED(status)) {
    exit.exited = true;
    exit.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    exit.cause = "ended by signal " + std::to_string(WTERMSIG(status)) + " (" +
                 ::strsignal(WTERMSIG(status)) + ")";
  }
  return true;
}

bool waitForChildren(const std::vector<ChildProcess*>& children, int inputFd, int timeoutMs) {
  std::vector<pollfd> entries;
  entries.push_back({posix::wakeFd(), POLLIN, 0});
  if (inputFd >= 0) entries.push_back({inputFd, POLLIN, 0});
  for (const ChildProcess* child : children) {
    if (child && child->outputOpen()) {
      // The descriptor is the int that start() stored.
      entries.push_back({static_cast<int>(child->outputHandle()), POLLIN, 0});
    }
  }
  const int ready = ::poll(entries.data(), entries.size(), timeoutMs < 0 ? 0 : timeoutMs);
  if (ready < 0) return errno == EINTR;  // a signal: a request, most likely
  if (entries[0].revents != 0) posix::drainWake();
  return ready > 0;
}

}  // namespace platform
