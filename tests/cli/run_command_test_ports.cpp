// Ports that a run cannot use: a device held by another program or without access, a
// network port that refuses, and a pseudo-terminal whose far end can never show update mode.
// Each is named with its reason, in the run's output, its record and the port list.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/port_access.h"
#include "cli/transcript.h"
#include "tests/cli/run_command_test_program.h"
#include "tests/support/loopback_servers.h"

namespace cli_test {
namespace {

TEST(RunCommandTest, port_that_cannot_be_opened_is_named_with_its_reason) {
  TempDir dir(false);
  writeUpdateSet(dir);
  testing_support::PtyPair pty;
  if (!pty.ok()) GTEST_SKIP() << "no pseudo-terminal available";
  const int held = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
  dir.write("settings.ini", "[PORTS]\nCOM7=" + pty.slavePath() + "\n");
  const std::string inUse =
      "COM7 (" + pty.slavePath() + "): in use by process " + std::to_string(::getpid()) + " (";
  const Result run = runProgram(dir, {"run", "--assume-yes", "--port", "com7"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err.rfind("zelupdate run: " + inUse, 0), 0u) << run.err;
  EXPECT_NE(run.out.find("check RS232 cable"), std::string::npos);
  const Result ports = runProgram(dir, {"ports"});
  EXPECT_NE(ports.out.find("COM7 (access denied)  " + pty.slavePath() + ": in use by process"),
            std::string::npos)
      << ports.out;
  EXPECT_EQ(ports.out.find("dialout"), std::string::npos) << ports.out;
  ::close(held);

  // A user without access (root checks it as nobody): the dialout advice only where the
  // device belongs to that group; otherwise its owner and mode.
  const group* dialout = ::getgrnam("dialout");
  if (::geteuid() != 0 || dialout == nullptr) return;
  ::chmod(dir.path().c_str(), 0755);
  ::mknod(dir.file("dialout").c_str(), S_IFCHR | 0660, ::makedev(1, 3));
  ::chown(dir.file("dialout").c_str(), 0, dialout->gr_gid);
  ::mknod(dir.file("private").c_str(), S_IFCHR | 0600, ::makedev(1, 3));
  ::chown(dir.file("private").c_str(), 0, 0);
  int answer[2];
  ASSERT_EQ(::pipe(answer), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
    const std::string text = portAccessProblem(dir.file("dialout")) + "\n" +
                             portAccessProblem(dir.file("private")) + "\n";
    ::_exit(::write(answer[1], text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0
                                                                                              : 1);
  }
  ::close(answer[1]);
  char text[512] = {};
  const ssize_t size = ::read(answer[0], text, sizeof text - 1);
  ::close(answer[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "cannot become nobody";
  EXPECT_EQ(std::string(text, size > 0 ? size : 0),
            "permission denied: you are not in group dialout (sudo usermod -aG dialout $USER, "
            "then log in again)\npermission denied: owned by root:root, mode 0600\n");
}

// The instrument's text side at the far end of a pseudo-terminal, which has no modem lines
// and so can never show update mode: answers the queries and keeps every line it gets.
class TextPeer {
 public:
  explicit TextPeer(testing_support::PtyPair& pty) : m_pty(pty), m_thread([this] { serve(); }) {}
  ~TextPeer() {
    m_stop = true;
    m_thread.join();
  }
  std::vector<std::string> lines() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines;
  }

 private:
  void serve() {
    const std::map<std::string, std::string> answers = {
        {"*IDN?", "QUORIX&VANTEL,ZEL,57,04.41 "},
        {"SYST:ERR?", "0,\"No error\""},
        {"READ:INFO:DATA?", "65536"},
        {"SYSTEM:SERVICE:GET:BOARD:INFO?", "0xA0:1,0xC0:2"},
        {"SYST:COMM:SER:BAUD?", "9600"},
        {"SYST:COMM:SER:BITS?", "8"},
        {"SYST:COMM:SER:SBIT?", "1"},
        {"SYST:COMM:SER:PARITY?", "NONE"},
        {"SYST:COMM:SER:PACE?", "NONE"}};
    std::string pending;
    while (!m_stop) {
      pending += m_pty.receive(4096, 20);
      for (size_t end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
        std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        while (!line.empty() && static_cast<unsigned char>(line.back()) <= ' ') line.pop_back();
        while (!line.empty() && static_cast<unsigned char>(line.front()) <= ' ') line.erase(0, 1);
        if (line.empty()) continue;
        {
          std::lock_guard<std::mutex> lock(m_mutex);
          m_lines.push_back(line);
        }
        if (const auto found = answers.find(line); found != answers.end()) {
          m_pty.send(found->second + "\r\n");
        }
      }
    }
  }

  testing_support::PtyPair& m_pty;
  std::atomic<bool> m_stop{false};
  std::mutex m_mutex;
  std::vector<std::string> m_lines;
  std::thread m_thread;
};

// A network port that cannot be used: the run ends in the cable box with 701 as before, and
// a line of its own after the box says why; the record's result means that cause, and the
// port list marks the port with it.
TEST(RunCommandTest, network_port_that_cannot_be_used_says_why) {
  testing_support::HangUpServer hangUp;
  testing_support::FullBacklog full;
  const std::string loopback = "rfc2217://127.0.0.1:";
  struct Row {
    const char* what;
    std::string port;
    const char* cause;
    const char* mark;
  };
  const Row rows[] = {
      {"nobody listens", loopback + std::to_string(testing_support::closedLoopbackPort()),
       "connection refused", "refused"},
      {"unknown name", "rfc2217://no-such-host.invalid:2001", "host not found", "host not found"},
      {"the server hangs up: another client holds its port",
       loopback + std::to_string(hangUp.port()), "busy with another client", "busy"},
      {"the listener's queue is full", loopback + std::to_string(full.port()), "no answer",
       "no answer"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    if (row.port == loopback + std::to_string(full.port()) && !full.ok()) continue;
    TempDir dir(false);
    dir.write("settings.ini", "[PORTS]\nCOM9=" + row.port + "\n");
    const Result run =
        runProgram(dir, {"run", "--assume-yes", "--port", row.port, "--transcript", "t.txt"});
    EXPECT_EQ(run.status, 1);
    const std::string cause = row.port + ": " + row.cause;
    const std::vector<std::string> transcript = linesOf(dir.read("t.txt"));
    const std::vector<std::string> steps = replayTranscript(transcript);
    ASSERT_EQ(steps.size(), 2u) << run.out;
    EXPECT_TRUE(steps[0].starts_with("ERROR Autoconnect with ")) << steps[0];
    EXPECT_EQ(steps[1], cause);
    // After the box, which stays as it is.
    const auto box = std::find_if(transcript.begin(), transcript.end(), [](const auto& line) {
      return line.starts_with("! stop ERROR -\\ncheck RS232 cable,\\ncheck ") &&
             line.ends_with(" on,\\ncheck COM port.");
    });
    const auto said = std::find(transcript.begin(), transcript.end(), "+ " + cause);
    EXPECT_LT(box, said);
    EXPECT_NE(said, transcript.end());
    EXPECT_LT(run.out.find("check COM port."), run.out.find(cause + "\n")) << run.out;
    EXPECT_NE(run.out.find(cause + "\n"), std::string::npos) << run.out;

    const std::vector<StoredRecord> records = recordsOf(dir);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].record.outcome, "failed");
    EXPECT_EQ(records[0].record.result.value_or(0), 0x701);
    EXPECT_EQ(records[0].record.resultMeaning, cause);

    const Result ports = runProgram(dir, {"ports"});
    EXPECT_NE(ports.out.find(std::string("COM9 (") + row.mark + ")  " + row.port + "\n"),
              std::string::npos)
        << ports.out;
  }
}

TEST(RunCommandTest, pseudo_terminal_run_fails_at_the_update_mode_check_each_time) {
  TempDir dir(false);
  writeUpdateSet(dir);
  testing_support::PtyPair pty;
  if (!pty.ok()) GTEST_SKIP() << "no pseudo-terminal available";
  TextPeer peer(pty);
  const Result result =
      runProgram(dir, {"run", "--assume-yes", "--port", pty.slavePath(), "--trace", "t.txt"});
  EXPECT_EQ(result.status, 1);
  const std::string check = "ERROR Check ZEL in update mode (205)\n";
  const size_t first = result.out.find(check);
  ASSERT_NE(first, std::string::npos) << result.out;
  const size_t second = result.out.find(check, first + 1);
  ASSERT_NE(second, std::string::npos) << result.out;
  EXPECT_NE(result.out.find("[stop] ", second), std::string::npos) << result.out;
  // Two lines of one code: its explanation once.
  const size_t explained = result.out.find("\n  205: ");
  ASSERT_NE(explained, std::string::npos) << result.out;
  EXPECT_EQ(result.out.find("\n  205: ", explained + 1), std::string::npos) << result.out;
  EXPECT_EQ(dir.read("t.txt").find("SetCommState failed"), std::string::npos);
  // Every setting the program sent arrived, the last one written just before a close too.
  const std::vector<std::string> lines = peer.lines();
  for (const char* setting : {"BAUD 9600", "BITS 8", "PARITY NONE", "SBITS 1", "PACE NONE"}) {
    const std::string command = std::string("SYST:COMM:SER:") + setting;
    EXPECT_NE(std::find(lines.begin(), lines.end(), command), lines.end()) << command;
  }
}

}  // namespace
}  // namespace cli_test
