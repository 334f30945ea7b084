// The program itself: `zelupdate run` and `zelupdate demo` in a folder holding the sample
// update set, against the simulated instrument, with their output, transcript and exit status.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/port_access.h"
#include "app/service_record.h"
#include "cli/console_run.h"
#include "cli/transcript.h"
#include "instrument/zel.h"
#include "platform/host_files.h"
#include "platform/profile.h"
#include "platform/sha256.h"
#include "serial/com_ports.h"
#include "sim/registry.h"
#include "sim/sample_files.h"
#include "tests/support/loopback_servers.h"
#include "tests/support/pty_pair.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::TempDir;

constexpr int kProgramTimeoutSeconds = 60;

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

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

// Runs the program in the folder with standard input from /dev/null and the output in files
// (or, with closedOutput, standard output a pipe that nobody reads).
Result runProgram(const TempDir& dir, const std::vector<std::string>& args,
                  bool closedOutput = false) {
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

// The program on a terminal of its own (its controlling terminal, so that Ctrl-C typed there
// reaches it as SIGINT); the test is the technician at the keyboard.
class TerminalProgram {
 public:
  TerminalProgram(const TempDir& dir, const std::vector<std::string>& args) {
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
  ~TerminalProgram() {
    if (m_pid > 0 && m_status == -2) finish();
  }

  // Reads the terminal (bounded, real time) until its output holds the text.
  bool waitFor(const std::string& text) {
    for (int i = 0; i < 3000 && m_output.find(text) == std::string::npos; ++i) {
      m_output += m_pty.receive(65536, 10);
    }
    return m_output.find(text) != std::string::npos;
  }
  void type(const std::string& keys) { m_pty.send(keys); }
  int finish() {
    m_status = waitForExit(m_pid);
    m_output += m_pty.receive(1 << 20, 50);
    return m_status;
  }
  const std::string& output() const { return m_output; }
  pid_t pid() const { return m_pid; }
  // The terminal echoes and reads whole lines, as a shell left it.
  bool terminalRestored() const {
    const int fd = ::open(m_pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
    termios settings{};
    const bool ok = fd >= 0 && ::tcgetattr(fd, &settings) == 0 && (settings.c_lflag & ECHO) &&
                    (settings.c_lflag & ICANON);
    if (fd >= 0) ::close(fd);
    return ok;
  }

 private:
  testing_support::PtyPair m_pty;
  pid_t m_pid = -1;
  int m_status = -2;
  std::string m_output;
};

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The records of the folder's history file.
std::vector<StoredRecord> recordsOf(const TempDir& dir) {
  std::vector<StoredRecord> records;
  std::string why;
  EXPECT_TRUE(readHistory(dir.file("history.jsonl"), {}, records, &why)) << why;
  return records;
}

// The folder of an update: the sample set, less the files named.
void writeUpdateSet(const TempDir& dir, const std::vector<std::string>& missing = {}) {
  ASSERT_EQ(sim::writeSampleUpdateFiles(dir.path()), 0);
  for (const std::string& name : missing) ::unlink(dir.file(name).c_str());
}

const std::vector<std::string> kAutomaticUpdateWithBoot = {
    "OK    Autoconnect with device",
    "OK    Get SW/HW info",
    "Processor board with memory extension",
    "Current software version ZEL: 04.40",
    "OK    Create configuration file",
    "OK    Set ZEL in update mode",
    "Preparing update environment",
    "OK    Check ZEL in update mode",
    "OK    Download bootloader",
    "OK    Download transfer program",
    "Update processor firmware",
    "OK    Delete flash",
    "OK    Download processor firmware",
    "OK    Get checksum from target",
    "OK    Update processor firmware completed",
    "OK    Wait until ZEL is booted",
    "Update processor firmware successfully completed",
    "OK    Set ZEL in update mode",
    "Update Option(B20)",
    "OK    Check ZEL in update mode",
    "OK    Download bootloader",
    "OK    Download transfer program",
    "OK    Erasing Flash ROMs on DSP module...",
    "OK    Programming Flash ROMs on DSP module...",
    "OK    Waiting for checksum from DSP module...",
    "Update of DSP option successfully completed",
};

TEST(RunCommandTest, automatic_run_succeeds_and_its_transcript_replays_to_the_status_list) {
  TempDir dir(false);
  writeUpdateSet(dir);
  dir.write("settings.ini", "[DEVICE]\nPORT_NO=7\n");
  const Result result = runProgram(dir, {"run", "--port", "sim:hw=0x11000,version=04.40",
                                         "--assume-yes", "--transcript", "t.txt"});
  ASSERT_EQ(result.status, 0) << result.out << result.err;
  EXPECT_EQ(result.err, "");
  const std::vector<std::string> transcript = linesOf(dir.read("t.txt"));
  EXPECT_EQ(replayTranscript(transcript), kAutomaticUpdateWithBoot);
  ASSERT_FALSE(transcript.empty());
  EXPECT_EQ(transcript.back(), "! info Update successfully completed.\\nEXIT update program.");
  // Standard output streamed the same lines, in the same order, and the box with its answer.
  const std::vector<std::string> out = linesOf(result.out);
  size_t at = 0;
  for (const std::string& line : kAutomaticUpdateWithBoot) {
    while (at < out.size() && out[at] != line) ++at;
    ASSERT_LT(at, out.size()) << "missing or out of order: " << line;
  }
  EXPECT_NE(result.out.find("[info] Update successfully completed.\n"
                            "       EXIT update program.\n"
                            "       -> OK\n"),
            std::string::npos);
  // A port given by name takes a number for the run only: the settings keep theirs.
  EXPECT_NE(dir.read("settings.ini").find("PORT_NO=7"), std::string::npos);
}

TEST(RunCommandTest, output_that_nobody_reads_does_not_stop_the_run) {
  TempDir dir(false);
  writeUpdateSet(dir);
  const Result result =
      runProgram(dir, {"run", "--port", "sim:hw=0x11000", "--transcript", "t.txt"}, true);
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(dir.read("t.txt").find("! info Update successfully completed."), std::string::npos);
}

TEST(RunCommandTest, bad_input_ends_with_its_message_and_exit_status) {
  struct Row {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::string> missingFiles;
    int status;
    std::string outHas;  // in standard output
    std::string errHas;  // in standard error; the first line when errFirst
    bool errFirst;
    bool portUntouched;  // nothing opened, nothing sent: the trace stays empty
  };
  const Row rows[] = {
      {"B10 needs the memory extension",
       {"--manual", "--memory-extension", "no", "--option", "B10"},
       {},
       2,
       "",
       "ERROR  \nATSC / DVB-T TV Digital Demodulator\nupdate not possible without memory "
       "extension\n",
       true,
       true},
      {"option update without an option",
       {"--manual", "--option-update"},
       {},
       2,
       "",
       "ERROR - choose only one: B1 or B10 or B20\n",
       true,
       true},
      {"selections without --manual",
       {"--option", "B1"},
       {},
       2,
       "",
       "zelupdate run: selections need --manual (see zelupdate run --help)\n",
       true,
       true},
      {"transcript that cannot be created",
       {"--transcript", "no/such/folder/t.txt"},
       {},
       2,
       "",
       "zelupdate run: cannot create transcript file no/such/folder/t.txt: No such file or "
       "directory\n",
       true,
       true},
      {"transcript to a FIFO that nobody reads",
       {"--transcript", "fifo"},
       {},
       2,
       "",
       "zelupdate run: cannot create transcript file fifo: a FIFO that nobody reads\n",
       true,
       true},
      {"trace to a FIFO that nobody reads",
       {"--trace", "fifo"},
       {},
       2,
       "",
       "zelupdate: cannot create trace file fifo: a FIFO that nobody reads\n",
       true,
       true},
      // Files that cannot take what is written: said once at the end, the run's status stays.
      {"transcript and trace on a full device",
       {"--port", "sim:hw=0x11000", "--transcript", "/dev/full", "--trace", "/dev/full"},
       {},
       0,
       "Update successfully completed.",
       "zelupdate run: cannot write transcript file /dev/full: No space left on device\n"
       "zelupdate: cannot write trace file /dev/full: No space left on device\n",
       false,
       false},
      {"settings that are a FIFO",
       {"--settings", "fifo", "--port", "sim:hw=0x11000"},
       {},
       0,
       "Update successfully completed.",
       "zelupdate: settings file fifo left untouched: not a regular file\n",
       false,
       false},
      {"settings that are an endless device",
       {"--settings", "/dev/zero", "--port", "sim:hw=0x11000"},
       {},
       0,
       "Update successfully completed.",
       "zelupdate: settings file /dev/zero left untouched: not a regular file\n",
       false,
       false},
      {"simulated port with an unknown option",
       {"--port", "sim:colour=red"},
       {},
       2,
       "",
       "zelupdate run: ",
       true,
       true},
      {"port name of no accepted form",
       {"--port", "abc"},
       {},
       2,
       "",
       "zelupdate run: --port: not a port: abc (COM numbers are 1 to 15",
       true,
       true},
      {"COM number 0",
       {"--port", "COM0"},
       {},
       2,
       "",
       "zelupdate run: --port: not a port: COM0 (",
       true,
       true},
      {"COM number beyond the list",
       {"--port", "com99"},
       {},
       2,
       "",
       "zelupdate run: --port: not a port: com99 (",
       true,
       true},
      {"control characters in a port name",
       {"--port", "\x1b[2Jx"},
       {},
       2,
       "",
       "zelupdate run: --port: not a port: \\x1b[2Jx (",
       true,
       true},
      // The run's own lines and boxes tell the rest, and it did not succeed.
      {"device that does not exist",
       {"--port", "/dev/zel-no-such-port\a"},
       {},
       1,
       "[stop] ERROR -\n       check RS232 cable,\n",
       "zelupdate run: /dev/zel-no-such-port\\x07: no such device\n",
       true,
       false},
      {"silent instrument",
       {"--port", "sim:fault=silent"},
       {},
       1,
       "Autoconnect with device\n[stop] ERROR -\n",
       "",
       false,
       false},
      {"missing firmware image",
       {"--port", "sim:hw=0x11000"},
       {"NO_ATSC.bin", "NO_DVBT.bin"},
       1,
       "Programfile NO_ATSC.BIN not accessible\n",
       "",
       false,
       false},
      // A manual run that only writes the configuration file succeeds with it.
      {"manual run without updates",
       {"--manual", "--processor-firmware", "no", "--port", "sim:"},
       {},
       0,
       "Manual mode with settings in configuration menu\nCreate configuration file\nOK    "
       "Create configuration file\n",
       "",
       false,
       false},
  };
  for (const Row& row : rows) {
    TempDir dir(false);
    writeUpdateSet(dir, row.missingFiles);
    ::mkfifo(dir.file("fifo").c_str(), 0600);
    std::vector<std::string> args = {"run", "--assume-yes", "--trace", "trace.txt"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const Result result = runProgram(dir, args);
    EXPECT_EQ(result.status, row.status) << row.name << "\n" << result.out << result.err;
    EXPECT_NE(result.out.find(row.outHas), std::string::npos) << row.name << "\n" << result.out;
    if (row.errFirst) {
      EXPECT_EQ(result.err.rfind(row.errHas, 0), 0u) << row.name << "\n" << result.err;
    } else {
      EXPECT_EQ(result.err, row.errHas) << row.name;
    }
    if (row.portUntouched) {
      EXPECT_EQ(result.out, "") << row.name;
      EXPECT_EQ(dir.read("trace.txt"), "") << row.name;
      EXPECT_EQ(dir.read("ROMWRITE.CNF"), "") << row.name;
    }
  }
}

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

TEST(RunCommandTest, demo_on_a_terminal_shows_the_progress_and_ends_with_the_success_box) {
  TempDir dir(false);
  TerminalProgram demo(dir, {"demo", dir.file("demo"), "--speed", "virtual"});
  ASSERT_TRUE(demo.waitFor("Press Enter ")) << demo.output();
  demo.type("\r");
  ASSERT_EQ(demo.finish(), 0) << demo.output();
  const std::string& out = demo.output();
  // The progress line is redrawn in place with a rising percent; steps are rewritten in place.
  const size_t low = out.find("]   1 %");
  const size_t high = out.find("]  50 %");
  ASSERT_NE(low, std::string::npos) << out;
  ASSERT_NE(high, std::string::npos) << out;
  EXPECT_LT(low, high);
  EXPECT_NE(out.find("\x1b[1A\r\x1b[2KOK    Download processor firmware"), std::string::npos);
  EXPECT_NE(out.find("[info] Update successfully completed.\r\n"), std::string::npos);
  EXPECT_NE(out.find("Press Enter OK"), std::string::npos);
  EXPECT_NE(dir.read("demo/zelupdate.ini").find("PORT_NO"), std::string::npos);
  // The instrument reports the sample set's release once it has booted it.
  const std::vector<StoredRecord> records = recordsOf(dir);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].record.instrument->version, "04.40");
  EXPECT_EQ(records[0].record.versionAfter, sim::kSampleFirmwareVersion);
}

TEST(RunCommandTest, ctrl_c_on_the_terminal_asks_and_yes_ends_the_run) {
  TempDir dir(false);
  writeUpdateSet(dir);
  TerminalProgram run(dir, {"run", "--port", "sim:hw=0x11000,speed=20", "--transcript", "t.txt"});
  ASSERT_TRUE(run.waitFor(" %")) << run.output();  // under way, with its progress line
  run.type("\x03");
  ASSERT_TRUE(run.waitFor("[y/n] ")) << run.output();
  run.type("y");
  // The workflow's own lines and its stop box follow.
  ASSERT_TRUE(run.waitFor("Press Enter ")) << run.output();
  run.type("\r");
  EXPECT_EQ(run.finish(), 1) << run.output();
  const std::string transcript = dir.read("t.txt");
  // The run went on while the question was open; the answer came later.
  const size_t question =
      transcript.find("! question If update is running,\\ndo not cancel the update.\\nCancel?\n");
  ASSERT_NE(question, std::string::npos) << transcript;
  EXPECT_NE(transcript.find("\n> yes\n", question), std::string::npos) << transcript;
  EXPECT_NE(transcript.find("! stop Update cancelled by the user."), std::string::npos);
  EXPECT_EQ(transcript.find("Update successfully completed"), std::string::npos);
}

// The record is kept before the last box: a program killed while that box waits for Enter
// on its terminal leaves its record in the history, with the run's outcome.
TEST(RunCommandTest, killed_at_the_last_box_the_run_has_kept_its_record) {
  const struct {
    const char* name;
    const char* port;
    const char* box;
    const char* outcome;
  } rows[] = {
      {"success", "sim:hw=0x11000", "[info] Update successfully completed.", "success"},
      {"failure", "sim:hw=0x11000,fault=erase-fail", "[stop] Update processor firmware failed,",
       "failed"},
      {"refusal", "sim:version=03.07", "[stop] Software version lower than 3.08.", "refused"},
  };
  for (const auto& row : rows) {
    TempDir dir(false);
    writeUpdateSet(dir);
    TerminalProgram run(dir, {"run", "--port", std::string(row.port) + ",speed=virtual"});
    ASSERT_TRUE(run.waitFor(row.box)) << row.name << "\n" << run.output();
    ASSERT_TRUE(run.waitFor("Press Enter ")) << row.name << "\n" << run.output();
    ::kill(run.pid(), SIGKILL);
    EXPECT_EQ(run.finish(), -1) << row.name;
    const std::vector<StoredRecord> records = recordsOf(dir);
    ASSERT_EQ(records.size(), 1u) << row.name;
    EXPECT_EQ(records[0].record.outcome, row.outcome) << row.name;
    EXPECT_EQ(records[0].record.frontEnd, "console") << row.name;
    ASSERT_FALSE(records[0].record.steps.empty()) << row.name;
  }
}

// The transfer bar's percents that a terminal was shown ("[====>   ]  42 %"), each with the
// place in the output where it stands.
std::vector<std::pair<size_t, int>> drawnPercents(const std::string& out) {
  std::vector<std::pair<size_t, int>> found;
  for (size_t at = out.find(" %"); at != std::string::npos; at = out.find(" %", at + 2)) {
    size_t digits = at;
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(out[digits - 1]))) --digits;
    size_t blanks = digits;
    while (blanks > 0 && out[blanks - 1] == ' ') --blanks;
    if (digits == at || blanks == digits || blanks == 0 || out[blanks - 1] != ']') continue;
    found.emplace_back(at, std::stoi(out.substr(digits, at - digits)));
  }
  return found;
}

// A run that succeeded shows its progress at the end when its box comes: on a terminal the
// last progress line, left standing above the box, at 100 %, after the option's phase rose
// again from near 0; for a program reading plain lines, "progress 100" last.
TEST(RunCommandTest, progress_stands_at_its_end_at_the_success_box) {
  const std::string port = "sim:hw=0x11000,speed=virtual";
  const std::string box = "[info] Update successfully completed.";
  {
    TempDir dir(false);
    writeUpdateSet(dir);
    TerminalProgram run(dir, {"run", "--port", port});
    ASSERT_TRUE(run.waitFor("Press Enter ")) << run.output();
    // What the terminal shows while the box waits is all this looks at.
    ::kill(run.pid(), SIGKILL);
    run.finish();
    const std::string& out = run.output();
    const size_t boxAt = out.find(box);
    const size_t optionAt = out.find("Update Option(B20)");
    ASSERT_NE(boxAt, std::string::npos);
    ASSERT_NE(optionAt, std::string::npos);
    std::vector<int> option;
    int last = -1;
    for (const auto& [at, percent] : drawnPercents(out)) {
      if (at > boxAt) break;
      last = percent;
      if (at > optionAt) option.push_back(percent);
    }
    EXPECT_EQ(last, 100) << out;
    EXPECT_EQ(out.find("\r\n", out.rfind(" %", boxAt)) + 2, boxAt) << "the 100 % line stays";
    ASSERT_GE(option.size(), 3u) << out;
    EXPECT_LE(*std::min_element(option.begin(), option.end() - 1), 10);
    EXPECT_GE(*std::max_element(option.begin(), option.end() - 1), 80);
    EXPECT_EQ(std::count(option.begin(), option.end(), 100), 1);
  }
  {
    TempDir dir(false);
    writeUpdateSet(dir);
    const Result result =
        runProgram(dir, {"run", "--assume-yes", "--progress-lines", "--port", port});
    ASSERT_EQ(result.status, 0) << result.out;
    const size_t boxAt = result.out.find(box);
    ASSERT_NE(boxAt, std::string::npos) << result.out;
    const size_t lastProgress = result.out.rfind("\nprogress ", boxAt);
    ASSERT_NE(lastProgress, std::string::npos) << result.out;
    EXPECT_EQ(result.out.substr(lastProgress + 1, 13), "progress 100 ") << result.out;
  }
}

// Everything a run needs is checked before the instrument is switched into update mode: a
// failure ends the run (exit 1) with the line and the box of the check, and neither
// SENSE:SWUP nor a front-panel instruction reaches the instrument or the user.
TEST(RunCommandTest, the_update_set_is_checked_before_update_mode) {
  struct Row {
    const char* name;
    std::vector<std::string> args;
    bool emptyFolder;
    std::string emptyFile;  // made 0 bytes long
    bool configIsFolder;    // ROMWRITE.CNF cannot be written
    std::string outHas;
  };
  const Row rows[] = {
      {"empty folder",
       {"--port", "sim:hw=0x11000"},
       true,
       "",
       false,
       "ERROR - check GENERAL:  update aborted\nBootstraploader ROMWRITE.URL not accessible\n"
       "[stop] Bootstraploader ROMWRITE.URL not accessible\n       -> OK\nUpdate files looked for "
       "in DIR\n"},
      {"empty firmware image",
       {"--port", "sim:hw=0x10000"},
       false,
       "NO_ATSC.bin",
       false,
       "[stop] Programfile NO_ATSC.BIN not accessible\n       -> OK\nUpdate files looked for in "
       "DIR\n"},
      {"empty DSP image",
       {"--port", "sim:hw=0x11000"},
       false,
       "ATSC.BIN",
       false,
       "ERROR - DSP file could not be opened\n[stop] DSP file ATSC.BIN not accessible\n"
       "       -> OK\nUpdate files looked for in DIR\n"},
      {"manual, empty transfer program",
       {"--manual", "--port", "sim:hw=0x10000"},
       false,
       "ROMWRITE.TRA",
       false,
       "[stop] Transferprogram ROMWRITE.TRA not accessible\n       -> OK\nUpdate files looked for "
       "in DIR\n"},
      {"manual, ROMWRITE.CNF not writable",
       {"--manual", "--port", "sim:hw=0x10000"},
       false,
       "",
       true,
       "ERROR Create configuration file\n"},
  };
  for (const Row& row : rows) {
    TempDir dir(false);
    if (!row.emptyFolder) writeUpdateSet(dir);
    if (!row.emptyFile.empty()) dir.write(row.emptyFile, "");
    if (row.configIsFolder) {
      ::unlink(dir.file("ROMWRITE.CNF").c_str());
      ::mkdir(dir.file("ROMWRITE.CNF").c_str(), 0755);
    }
    std::vector<std::string> args = {"run", "--assume-yes", "--trace", "trace.txt"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const Result result = runProgram(dir, args);
    EXPECT_EQ(result.status, 1) << row.name << "\n" << result.out;
    // The line after the box names the folder the files were looked for in.
    std::string outHas = row.outHas;
    if (const size_t at = outHas.find("DIR"); at != std::string::npos)
      outHas.replace(at, 3, dir.path());
    EXPECT_NE(result.out.find(outHas), std::string::npos) << row.name << "\n" << result.out;
    EXPECT_EQ(result.out.find("update mode"), std::string::npos) << row.name << "\n" << result.out;
    EXPECT_EQ(result.out.find("ZEL settings before update"), std::string::npos) << row.name;
    EXPECT_EQ(dir.read("trace.txt").find("SWUP"), std::string::npos) << row.name;
  }
}

// A run never erases for an image it cannot program: an image that runs past the flash the
// job erases (or past its bank) is refused before update mode by the real run, the manual
// run and the dry run alike, with the file, its size and the room. `check` passes the job.
TEST(RunCommandTest, an_image_that_does_not_fit_is_refused_before_update_mode) {
  const std::vector<std::string> manualProcessor = {
      "--manual", "--memory-extension", "yes", "--option", "B20", "--processor-firmware", "yes",
      "--port",   "sim:hw=0x11000"};
  struct Row {
    const char* name;
    std::vector<std::string> args;
    const char* image;
    size_t bytes;
    int status;
    std::string outHas;  // empty: the run is not refused
  };
  const std::string mebibyte =
      "ERROR - program file does not fit: update aborted\n[stop] NO_DVBT.BIN is 1048576 bytes; "
      "the erased area 0x50000-0xEFFFF holds 655360\n";
  const Row rows[] = {
      {"1 MiB image", {"--port", "sim:hw=0x11000"}, "NO_DVBT.bin", 1 << 20, 1, mebibyte},
      {"1 MiB image, dry run",
       {"--dry-run", "--port", "sim:hw=0x11000"},
       "NO_DVBT.bin",
       1 << 20,
       1,
       mebibyte},
      {"one byte over",
       {"--port", "sim:hw=0x11000"},
       "NO_DVBT.bin",
       655361,
       1,
       "[stop] NO_DVBT.BIN is 655361 bytes; the erased area 0x50000-0xEFFFF holds 655360\n"},
      {"1 MiB image, manual", manualProcessor, "NO_DVBT.bin", 1 << 20, 1, mebibyte},
      // The check of the job already keeps an image inside its bank.
      {"one byte past the bank",
       {"--manual", "--memory-extension", "no", "--port", "sim:hw=0"},
       "NO_NICA.bin",
       0x80001,
       1,
       "[stop] NO_NICA.BIN is not completely in one flash-memory bank\n"},
      // An option update alone programs no image: the job's images are not its concern.
      {"1 MiB image, manual option update only",
       {"--manual", "--memory-extension", "yes", "--option", "B20", "--processor-firmware", "no",
        "--port", "sim:hw=0x11000"},
       "NO_DVBT.bin",
       1 << 20,
       0,
       ""},
  };
  for (const Row& row : rows) {
    TempDir dir(false);
    writeUpdateSet(dir);
    dir.writeSized(row.image, row.bytes);
    std::vector<std::string> args = {"run", "--assume-yes", "--trace", "trace.txt"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const Result result = runProgram(dir, args);
    EXPECT_EQ(result.status, row.status) << row.name << "\n" << result.out << result.err;
    if (row.outHas.empty()) {
      EXPECT_NE(dir.read("trace.txt").find("SWUP"), std::string::npos) << row.name;
      continue;
    }
    EXPECT_NE(result.out.find(row.outHas), std::string::npos) << row.name << "\n" << result.out;
    EXPECT_EQ(result.out.find("update mode"), std::string::npos) << row.name << "\n" << result.out;
    EXPECT_EQ(result.out.find("Delete flash"), std::string::npos) << row.name;
    EXPECT_EQ(result.out.find("ZEL settings before update"), std::string::npos) << row.name;
    EXPECT_EQ(result.out.find("  estimate  "), std::string::npos) << row.name;
    EXPECT_EQ(dir.read("trace.txt").find("SWUP"), std::string::npos) << row.name;
    // The record: refused, with the code and the words of the box, and the files it checked.
    const std::vector<StoredRecord> records = recordsOf(dir);
    ASSERT_EQ(records.size(), 1u) << row.name;
    EXPECT_EQ(records[0].record.outcome, "refused") << row.name;
    EXPECT_NE(records[0].record.result.value_or(0), 0) << row.name;
    std::string image = row.image;
    std::transform(image.begin(), image.end(), image.begin(), ::toupper);
    EXPECT_NE(records[0].line.find("\"meaning\":\"" + image), std::string::npos) << records[0].line;
    EXPECT_GE(records[0].record.files.size(), 3u) << row.name;
    if (row.args.front() == "--dry-run" || row.image != std::string("NO_DVBT.bin")) continue;
    // The check refuses what the run refuses, with the same line.
    const Result check = runProgram(dir, {"check"});
    EXPECT_EQ(check.status, 1) << row.name << "\n" << check.out;
    EXPECT_EQ(check.out.rfind("ERROR - program file does not fit: update aborted\n", 0), 0u)
        << row.name;
  }
}

// Ctrl-C, then the question left open while the run goes on: n after 30 s of program time
// changes nothing. The lines are those of a run without Cancel.
TEST(RunCommandTest, cancel_answered_no_late_leaves_the_run_as_without_it) {
  const std::string instrument = "sim:hw=0x10000,version=04.41";
  std::vector<std::string> reference;
  {
    TempDir dir(false);
    writeUpdateSet(dir);
    ASSERT_EQ(runProgram(dir, {"run", "--assume-yes", "--port", instrument + ",speed=virtual",
                               "--transcript", "t.txt"})
                  .status,
              0);
    reference = linesOf(dir.read("t.txt"));
  }
  {
    const std::string answer = "n";
    TempDir dir(false);
    writeUpdateSet(dir);
    // Eight times the speed: the target's 2 s echo deadline is 250 ms of real time, a margin
    // that a busy machine's scheduling does not eat up.
    TerminalProgram run(dir, {"run", "--port", instrument + ",speed=8", "--transcript", "t.txt"});
    ASSERT_TRUE(run.waitFor("Download processor firmware")) << run.output();
    run.type("\x03");
    ASSERT_TRUE(run.waitFor("[y/n] ")) << run.output();
    // 30 s of program time with the question open: the target abandons a packet after 2 s
    // without echo, so the engine must go on serving the line meanwhile.
    std::this_thread::sleep_for(std::chrono::milliseconds(3750));
    run.type(answer);
    ASSERT_TRUE(run.waitFor("Press Enter ")) << run.output();
    run.type("\r");
    EXPECT_EQ(run.finish(), 0) << run.output();
    std::vector<std::string> lines;
    for (const std::string& line : linesOf(dir.read("t.txt"))) {
      if (line.rfind("! question", 0) != 0 && line.rfind("> no", 0) != 0) lines.push_back(line);
    }
    EXPECT_EQ(lines, reference);
  }
}

// SIGTERM while the Cancel question is open: the run ends as after Yes, with its lines in
// the transcript, the terminal as it was, and exit status 1.
TEST(RunCommandTest, sigterm_ends_the_run_with_its_lines_and_the_terminal_restored) {
  TempDir dir(false);
  writeUpdateSet(dir);
  TerminalProgram run(dir, {"run", "--port", "sim:hw=0x11000,speed=20", "--transcript", "t.txt"});
  ASSERT_TRUE(run.waitFor("Download processor firmware")) << run.output();
  run.type("\x03");
  ASSERT_TRUE(run.waitFor("[y/n] ")) << run.output();
  ::kill(run.pid(), SIGTERM);
  EXPECT_EQ(run.finish(), 1) << run.output();
  EXPECT_TRUE(run.terminalRestored());
  const std::string transcript = dir.read("t.txt");
  EXPECT_NE(transcript.find("+ ERROR Download processor firmware (FFFF)\n"), std::string::npos)
      << transcript;
  EXPECT_NE(transcript.find("! stop Update cancelled by the user.\\nPlease retry in Manual Mode\n"),
            std::string::npos)
      << transcript;
  EXPECT_EQ(transcript.find("Update Option"), std::string::npos) << transcript;
  const std::vector<StoredRecord> records = recordsOf(dir);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].record.outcome, "cancelled");
  EXPECT_EQ(records[0].record.result.value_or(0), 0xFFFF);
  EXPECT_GT(records[0].record.statistics->bytesSent, 0);
}

// Every run leaves one record, whatever its outcome, with what was known filled in.
TEST(RunCommandTest, each_run_appends_one_record_of_what_it_did) {
  struct Row {
    const char* name;
    std::vector<std::string> args;
    int status;
    const char* outcome;
    const char* versionBefore;  // nullptr: not identified
    const char* versionAfter;
    int32_t result;
    const char* outHas;
    size_t files;
    std::vector<std::string> missing;  // files taken out of the update set
  };
  const Row rows[] = {
      {"success",
       {"run", "--assume-yes", "--port",
        "sim:hw=0x11000,version=04.40,version-after=04.60,speed=virtual"},
       0,
       "success",
       "04.40",
       "04.60",
       0,
       "record: ",
       4,
       {}},
      {"erase fault",
       {"run", "--assume-yes", "--port", "sim:hw=0x11000,fault=erase-fail,speed=virtual"},
       1,
       "failed",
       "04.41",
       "",
       0x414,
       "\n  414: the target failed to erase flash",
       4,
       {}},
      {"no memory extension",
       {"run", "--assume-yes", "--port", "sim:hw=0x1000,speed=virtual"},
       1,
       "refused",
       "04.41",
       "",
       0,
       "record: ",
       0,
       {}},
      {"refused selections",
       {"run", "--manual", "--option-update", "yes", "--port", "sim:"},
       2,
       "refused",
       nullptr,
       "",
       0,
       "",
       0,
       {}},
      {"dry run",
       {"run", "--dry-run", "--port", "sim:hw=0x11000,speed=virtual"},
       0,
       "success",
       "04.41",
       "",
       0,
       "\n  estimate  ",
       4,
       {}},
      // Each failure records the code of its first failing step: where the step's line
      // has none, the step's own (a silent instrument, the DSP steps), and never the
      // code of a retry that failed otherwise (the checksum before the loader).
      {"silent instrument",
       {"run", "--assume-yes", "--port", "sim:fault=silent"},
       1,
       "failed",
       nullptr,
       "",
       0x701,
       "\n  701: the instrument did not answer",
       0,
       {}},
      {"backup of a silent instrument",
       {"backup", "--port", "sim:fault=silent", "saved"},
       1,
       "failed",
       nullptr,
       "",
       0x701,
       "\n  701: the instrument did not answer",
       0,
       {}},
      {"checksum that differs",
       {"run", "--assume-yes", "--port", "sim:hw=0x11000,fault=checksum-off"},
       1,
       "failed",
       "04.41",
       "",
       0x416,
       "\n  416: the target's checksum",
       4,
       {}},
      {"DSP erase fails",
       {"run", "--assume-yes", "--port", "sim:hw=0x11000,fault=dsp-erase-fail"},
       1,
       "failed",
       "04.41",
       "",
       1,
       "\n  1: DSP option programming failed",
       4,
       {}},
      {"DSP checksum differs",
       {"run", "--assume-yes", "--port", "sim:hw=0x11000,fault=dsp-checksum-off"},
       1,
       "failed",
       "04.41",
       "",
       2,
       "\n  2: the DSP module's checksum differs",
       4,
       {}},
      // A refusal by the pre-flight check names the missing file, and lists what it checked.
      {"missing image",
       {"run", "--assume-yes", "--port", "sim:hw=0x11000"},
       1,
       "refused",
       "04.41",
       "",
       0x601,
       "\n  601: the programming configuration file is inconsistent",
       4,
       {"NO_ATSC.bin", "NO_DVBT.bin"}},
  };
  for (const Row& row : rows) {
    TempDir dir(false);
    writeUpdateSet(dir, row.missing);
    const Result result = runProgram(dir, row.args);
    EXPECT_EQ(result.status, row.status) << row.name << "\n" << result.out << result.err;
    EXPECT_NE(result.out.find(row.outHas), std::string::npos) << row.name << "\n" << result.out;
    const std::vector<StoredRecord> records = recordsOf(dir);
    ASSERT_EQ(records.size(), 1u) << row.name;
    const ServiceRecord& record = records[0].record;
    EXPECT_EQ(record.outcome, row.outcome) << row.name;
    EXPECT_EQ(record.frontEnd, "console") << row.name;
    EXPECT_EQ(record.dryRun, std::string(row.name) == "dry run") << row.name;
    EXPECT_EQ(record.result.value_or(-1), row.result) << row.name;
    EXPECT_EQ(record.instrument.has_value(), row.versionBefore != nullptr) << row.name;
    if (record.instrument) {
      EXPECT_EQ(record.instrument->version, row.versionBefore) << row.name;
      EXPECT_EQ(record.instrument->model, "ZEL") << row.name;
      EXPECT_EQ(record.instrument->serial, "57") << row.name;
    }
    EXPECT_EQ(record.versionAfter, row.versionAfter) << row.name;
    ASSERT_EQ(record.files.size(), row.files) << row.name;
    for (const ServiceRecordFile& file : record.files) {
      if (!file.bytes) {
        // A file that is not there has no size: the record's meaning names it.
        EXPECT_EQ(file.name, "NO_ATSC.BIN") << row.name;
        EXPECT_NE(records[0].line.find("\"meaning\":\"Programfile NO_ATSC.BIN not accessible\""),
                  std::string::npos)
            << records[0].line;
        continue;
      }
      std::string digest;
      ASSERT_TRUE(platform::sha256OfFile(platform::resolveHostFile(dir.file(file.name)), digest));
      EXPECT_EQ(file.sha256, digest) << row.name << " " << file.name;
    }
    if (row.versionBefore != nullptr) {
      EXPECT_EQ(record.steps.front(), "OK    Autoconnect with device") << row.name;
      EXPECT_EQ(records[0].line.find("\"meaning\":") != std::string::npos, row.result != 0)
          << records[0].line;
    }
  }
  // A dry run leaves the configuration file of the last run as it was.
  TempDir dir(false);
  writeUpdateSet(dir);
  dir.write("ROMWRITE.CNF", "; the last run's job\n");
  EXPECT_EQ(runProgram(dir, {"run", "--dry-run", "--port", "sim:hw=0x11000,speed=virtual"}).status,
            0);
  EXPECT_EQ(dir.read("ROMWRITE.CNF"), "; the last run's job\n");
  // ... also where TMPDIR names a folder that is not there.
  ::setenv("TMPDIR", dir.file("no-such-folder").c_str(), 1);
  const Result planned = runProgram(dir, {"run", "--dry-run", "--port", "sim:hw=0x11000"});
  ::unsetenv("TMPDIR");
  EXPECT_EQ(planned.status, 0) << planned.out;
  EXPECT_NE(planned.out.find("\n  estimate  "), std::string::npos) << planned.out;
  EXPECT_EQ(dir.read("ROMWRITE.CNF"), "; the last run's job\n");
  // A history that cannot take the record is refused before anything starts.
  const Result full = runProgram(dir, {"--history", "/dev/full", "run", "--assume-yes", "--port",
                                       "sim:hw=0x11000,speed=virtual"});
  EXPECT_EQ(full.status, 2) << full.err;
  EXPECT_NE(full.err.find("--history: /dev/full is not a regular file"), std::string::npos)
      << full.err;
}

// The dry run puts the instrument's serial settings back and never switches it over: it
// answers at its own settings afterwards.
TEST(RunCommandTest, dry_run_leaves_the_instrument_answering_at_its_own_settings) {
  TempDir dir(true);
  writeUpdateSet(dir);
  const std::string port = "sim:hw=0x11000,baud=19200,parity=even,pace=xon,speed=virtual";
  ConsoleRunRequest request;
  request.port = port;
  request.dryRun = true;
  CommonOptions common;
  common.settingsFile = dir.file("settings.ini");
  common.noHistory = true;
  testing::internal::CaptureStdout();
  EXPECT_EQ(runInConsole(request, common), 0);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("  program   NO_DVBT.BIN, 655360 bytes, SHA-256 "), std::string::npos) << out;
  EXPECT_EQ(out.find("update mode\n"), std::string::npos) << out;

  const std::shared_ptr<sim::Instrument> instrument = sim::instrumentFor(port);
  ASSERT_NE(instrument, nullptr);
  EXPECT_EQ(instrument->mode(), sim::Mode::Normal);
  EXPECT_EQ(instrument->counters.loaderDownloads, 0u);
  EXPECT_EQ(instrument->serial.baud, 19200u);
  EXPECT_EQ(instrument->serial.parity, sim::SerialParity::Even);
  EXPECT_EQ(instrument->serial.pace, sim::Pace::Xon);
  CZel session;
  platform::setComPortDevice(9, port);
  session.m_comm.m_portNo = 9;
  session.m_comm.m_baudRate = 19200;
  session.m_comm.m_parity = 2;
  session.m_comm.m_handshake = 2;
  ASSERT_EQ(session.open(), 0);
  char answer[kZelAnswerCapacity + 1];
  uint32_t length = 0;
  EXPECT_NE(session.queryCommand(kCmdIdn, answer, length, kZelAnswerCapacity), 0);
  EXPECT_EQ(std::string(answer, length).rfind("QUORIX&VANTEL,ZEL,57,", 0), 0u);
  session.close();
  sim::uninstallClock();
  sim::resetInstruments();
  platform::resetComPortMapping();
  platform::setSettingsFileOverride("");
}

}  // namespace
