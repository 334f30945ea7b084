#include "tests/cli/run_command_test_program.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <sstream>

#include "sim/sample_files.h"

namespace cli_test {
namespace {

constexpr int kProgramTimeoutSeconds = 60;

std::vector<std::string> programArgv(const TempDir& dir, const std::vector<std::string>& args) {
  // The records of these runs stay in the folder, out of the history of whoever runs the tests.
  std::vector<std::string> argv = {ZEL_PROGRAM, "--settings", dir.file("settings.ini"), "--history",
                                   dir.file("history.jsonl")};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

[[noreturn]] void execProgram(const std::vector<std::string>& argv) {
  std::vector<char*> pointers;
  for (const std::string& arg : argv) pointers.push_back(const_cast<char*>(arg.c_str()));
  pointers.push_back(nullptr);
  ::execv(pointers[0], pointers.data());
  ::_exit(127);
}

// Waits (bounded) for the child and returns its exit status; a child that hangs is killed.
int waitForExit(pid_t pid) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(kProgramTimeoutSeconds);
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    ::usleep(5000);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

Result runProgram(const TempDir& dir, const std::vector<std::string>& args, bool closedOutput) {
  const std::vector<std::string> argv = programArgv(dir, args);
  int pipeFds[2] = {-1, -1};
  if (closedOutput && ::pipe(pipeFds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(dir.path().c_str()) != 0) ::_exit(127);
    const int in = ::open("/dev/null", O_RDONLY);
    const int out =
        closedOutput ? pipeFds[1] : ::open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    execProgram(argv);
  }
  if (closedOutput) {
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
  }
  Result result;
  result.status = waitForExit(pid);
  result.out = dir.read("stdout.txt");
  result.err = dir.read("stderr.txt");
  return result;
}

TerminalProgram::TerminalProgram(const TempDir& dir, const std::vector<std::string>& args) {
  const std::vector<std::string> argv = programArgv(dir, args);
  m_pid = ::fork();
  if (m_pid == 0) {
    ::setsid();
    const int slave = ::open(m_pty.slavePath().c_str(), O_RDWR);
    if (slave < 0 || ::chdir(dir.path().c_str()) != 0) ::_exit(127);
    ::ioctl(slave, TIOCSCTTY, 0);
    winsize size{};
    size.ws_col = 120;
    size.ws_row = 40;
    ::ioctl(slave, TIOCSWINSZ, &size);
    ::dup2(slave, 0);
    ::dup2(slave, 1);
    ::dup2(slave, 2);
    execProgram(argv);
  }
}

TerminalProgram::~TerminalProgram() {
  if (m_pid > 0 && m_status == -2) finish();
}

bool TerminalProgram::waitFor(const std::string& text) {
  for (int i = 0; i < 3000 && m_output.find(text) == std::string::npos; ++i) {
    m_output += m_pty.receive(65536, 10);
  }
  return m_output.find(text) != std::string::npos;
}

int TerminalProgram::finish() {
  m_status = waitForExit(m_pid);
  m_output += m_pty.receive(1 << 20, 50);
  return m_status;
}

bool TerminalProgram::terminalRestored() const {
  const int fd = ::open(m_pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
  termios settings{};
  const bool ok = fd >= 0 && ::tcgetattr(fd, &settings) == 0 && (settings.c_lflag & ECHO) &&
                  (settings.c_lflag & ICANON);
  if (fd >= 0) ::close(fd);
  return ok;
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<StoredRecord> recordsOf(const TempDir& dir) {
  std::vector<StoredRecord> records;
  std::string why;
  EXPECT_TRUE(readHistory(dir.file("history.jsonl"), {}, records, &why)) << why;
  return records;
}

void writeUpdateSet(const TempDir& dir, const std::vector<std::string>& missing) {
  ASSERT_EQ(sim::writeSampleUpdateFiles(dir.path()), 0);
  for (const std::string& name : missing) ::unlink(dir.file(name).c_str());
}

}  // namespace cli_test
