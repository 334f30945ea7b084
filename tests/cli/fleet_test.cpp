// zelupdate fleet as the technician runs it: the program with its children, on pipes.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "app/json_text.h"
#include "app/service_record.h"
#include "cli/command_line.h"
#include "cli/fleet.h"
#include "cli/fleet_report.h"
#include "cli/fleet_table.h"
#include "platform/time_text.h"
#include "serial/com_ports.h"
#include "sim/sample_files.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

std::string readWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string simPort(int serial, const std::string& extra = "") {
  return "sim:version=04.40,hw=0x10020,serial=" + std::to_string(serial) + extra;
}

// The fleet program running in a folder with the sample update set, its input and output
// on pipes.
class FleetProcess {
 public:
  FleetProcess(const testing_support::TempDir& dir, const std::vector<std::string>& ports,
               const std::vector<std::string>& options = {}) {
    sim::writeSampleUpdateFiles(dir.path());
    std::vector<std::string> args = {ZEL_PROGRAM,  "fleet",
                                     "--settings", dir.file("zelupdate.ini"),
                                     "--history",  dir.file("history.jsonl"),
                                     "--report",   dir.file("report.json")};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), ports.begin(), ports.end());
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) return;
    m_pid = ::fork();
    if (m_pid == 0) {
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      ::dup2(out[1], 2);
      std::vector<char*> argv;
      for (std::string& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      _exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    m_in = in[1];
    m_out = out[0];
  }
  ~FleetProcess() {
    if (m_pid > 0) ::kill(m_pid, SIGKILL), ::waitpid(m_pid, nullptr, 0);
    ::close(m_in);
    ::close(m_out);
  }

  // Reads the output until it holds `text` after what was read so far; false after 20 s.
  bool waitFor(const std::string& text) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (m_output.find(text, m_seen) == std::string::npos) {
      if (std::chrono::steady_clock::now() > limit || !readSome()) return false;
    }
    m_seen = m_output.find(text, m_seen) + text.size();
    return true;
  }
  void answer(const std::string& text) {
    ASSERT_EQ(::write(m_in, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  void interrupt() { ::kill(m_pid, SIGINT); }
  // The fleet ends at once, without a word; its children stay to end on their own.
  void killNow() {
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
    m_pid = -1;
  }
  // The exit status once the output has ended.
  int finish() {
    while (readSome()) {
    }
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // The child running the given port's update.
  pid_t childFor(const std::string& port) const {
    DIR* proc = ::opendir("/proc");
    pid_t found = -1;
    while (dirent* entry = proc ? ::readdir(proc) : nullptr) {
      const pid_t pid = std::atoi(entry->d_name);
      if (pid <= 0) continue;
      std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
      std::string line;
      std::getline(stat, line);
      const size_t close = line.rfind(')');
      if (close == std::string::npos) continue;
      char state = 0;
      int parent = 0;
      if (std::sscanf(line.c_str() + close + 1, " %c %d", &state, &parent) != 2) continue;
      if (parent != m_pid) continue;
      std::ifstream cmdline("/proc/" + std::to_string(pid) + "/cmdline");
      std::string args((std::istreambuf_iterator<char>(cmdline)), {});
      if (args.find(port + '\0') != std::string::npos) found = pid;
    }
    if (proc) ::closedir(proc);
    return found;
  }
  const std::string& output() const { return m_output; }

 private:
  bool readSome() {
    pollfd entry{m_out, POLLIN, 0};
    if (::poll(&entry, 1, 20000) <= 0) return false;
    char buffer[4096];
    const ssize_t n = ::read(m_out, buffer, sizeof buffer);
    if (n <= 0) return false;
    m_output.append(buffer, static_cast<size_t>(n));
    return true;
  }

  pid_t m_pid = -1;
  int m_in = -1, m_out = -1;
  std::string m_output;
  size_t m_seen = 0;
};

std::vector<StoredRecord> historyOf(const testing_support::TempDir& dir,
                                    const HistoryFilter& filter = {}) {
  std::vector<StoredRecord> records;
  readHistory(dir.file("history.jsonl"), filter, records, nullptr);
  return records;
}

// Port and outcome of every record in the history file; the report tells the same of its
// runs.
std::vector<std::string> historyOutcomes(const testing_support::TempDir& dir) {
  std::vector<std::string> out;
  for (const StoredRecord& stored : historyOf(dir)) {
    EXPECT_EQ(stored.record.frontEnd, "fleet");
    out.push_back(stored.record.port + " " + stored.record.outcome);
  }
  std::sort(out.begin(), out.end());
  const Json report = parseJson(dir.read("report.json"));
  EXPECT_FALSE(report.is_discarded());
  const Json* runs = jsonMember(&report, "runs");
  std::vector<std::string> reported;
  for (size_t i = 0; runs && runs->is_array() && i < runs->size(); ++i) {
    const Json* port = jsonMember(&(*runs)[i], "port");
    const Json* outcome = jsonMember(&(*runs)[i], "outcome");
    reported.push_back((port ? jsonTextOf(port) : "?") + " " +
                       (outcome ? jsonTextOf(outcome) : "?"));
  }
  std::sort(reported.begin(), reported.end());
  EXPECT_EQ(reported, out);
  return out;
}

// The records of the history once it holds `count` of them: children of a fleet that was
// killed keep theirs as they end.
std::vector<StoredRecord> waitForRecords(const testing_support::TempDir& dir, size_t count) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  std::vector<StoredRecord> records = historyOf(dir);
  while (records.size() < count && std::chrono::steady_clock::now() < limit) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    records = historyOf(dir);
  }
  return records;
}

struct ProgramOutput {
  int status = -1;
  std::string output;  // standard output and error
};

// The program run in the current folder with these arguments, its output on a pipe or, with
// `columns`, on a terminal of that width.
ProgramOutput runProgram(std::vector<std::string> args, int columns = 0) {
  args.insert(args.begin(), ZEL_PROGRAM);
  int out[2] = {-1, -1};
  int terminal = -1;
  if (columns > 0) {
    terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (terminal < 0 || ::grantpt(terminal) != 0 || ::unlockpt(terminal) != 0) return {};
    out[0] = terminal;
    out[1] = ::open(::ptsname(terminal), O_RDWR | O_NOCTTY);
    winsize size{};
    size.ws_row = 40;
    size.ws_col = static_cast<unsigned short>(columns);
    ::ioctl(out[1], TIOCSWINSZ, &size);
  } else if (::pipe(out) != 0) {
    return {};
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int none = ::open("/dev/null", O_RDONLY);
    ::dup2(none, 0);
    ::dup2(out[1], 1);
    ::dup2(out[1], 2);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    _exit(127);
  }
  ::close(out[1]);
  ProgramOutput result;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(out[0], buffer, sizeof buffer);
    if (n > 0) {
      result.output.append(buffer, static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;  // end of the pipe, or EIO once the terminal's last writer is gone
    }
  }
  ::close(out[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

TEST(Fleet, four_instruments_one_failing) {
  testing_support::TempDir dir;
  const std::vector<std::string> ports = {simPort(1), simPort(2), simPort(3),
                                          simPort(4, ",fault=erase-fail")};
  FleetProcess fleet(dir, ports);
  EXPECT_EQ(fleet.finish(), kExitFailed);
  const std::string& out = fleet.output();
  // One plain line per step, the identification's model and serial in the summary.
  EXPECT_NE(out.find(simPort(2) + ": OK    Get SW/HW info\n"), std::string::npos) << out;
  EXPECT_NE(out.find(simPort(4, ",fault=erase-fail") + ": failed\n"), std::string::npos) << out;
  for (const char* row : {"ZEL 1        success", "ZEL 2        success", "ZEL 3        success",
                          "ZEL 4        failed "}) {
    EXPECT_NE(out.find(row), std::string::npos) << row << "\n" << out;
  }
  EXPECT_NE(out.find("3 of 4 updates succeeded"), std::string::npos) << out;
  EXPECT_EQ(historyOutcomes(dir),
            (std::vector<std::string>{simPort(1) + " success", simPort(2) + " success",
                                      simPort(3) + " success",
                                      simPort(4, ",fault=erase-fail") + " failed"}));
}

TEST(Fleet, ctrl_c_answered_no_then_yes) {
  testing_support::TempDir dir;
  // Slow enough to be running while the question waits.
  const std::vector<std::string> ports = {simPort(5, ",speed=20"), simPort(6, ",speed=20")};
  FleetProcess fleet(dir, ports);
  ASSERT_TRUE(fleet.waitFor(": OK    Get SW/HW info")) << fleet.output();
  fleet.interrupt();
  ASSERT_TRUE(fleet.waitFor("Cancel all running updates? [y/N]")) << fleet.output();
  fleet.answer("n\n");
  ASSERT_TRUE(fleet.waitFor("The updates go on\n"));
  ASSERT_TRUE(fleet.waitFor(": OK    Set ZEL in update mode")) << fleet.output();
  fleet.interrupt();
  ASSERT_TRUE(fleet.waitFor("Cancel all running updates? [y/N]"));
  fleet.answer("y\n");
  EXPECT_EQ(fleet.finish(), kExitFailed);
  EXPECT_EQ(historyOutcomes(dir),
            (std::vector<std::string>{simPort(5, ",speed=20") + " cancelled",
                                      simPort(6, ",speed=20") + " cancelled"}))
      << fleet.output();
}

// The fleet keeps the record of a child that kept none, with what the child had told: the
// instrument, its plan and the files of the job it wrote, so the serial number finds it.
TEST(Fleet, a_child_killed_from_outside_fails_alone) {
  testing_support::TempDir dir;
  const std::string victim = simPort(7, ",speed=20");
  FleetProcess fleet(dir, {victim, simPort(8), simPort(9)});
  ASSERT_TRUE(fleet.waitFor(victim + ": OK    Download bootloader")) << fleet.output();
  const pid_t child = fleet.childFor(victim);
  ASSERT_GT(child, 0);
  ::kill(child, SIGKILL);
  EXPECT_EQ(fleet.finish(), kExitFailed);
  EXPECT_NE(fleet.output().find(victim + ": failed (ended by signal 9"), std::string::npos)
      << fleet.output();
  EXPECT_EQ(historyOutcomes(dir),
            (std::vector<std::string>{victim + " failed", simPort(8) + " success",
                                      simPort(9) + " success"}));
  const std::vector<StoredRecord> found = historyOf(dir, {"7", "", std::nullopt});
  ASSERT_EQ(found.size(), 1u);
  const ServiceRecord& record = found[0].record;
  EXPECT_EQ(record.instrument->version, "04.40");
  EXPECT_EQ(record.instrument->hw, 0x10020u);
  ASSERT_TRUE(record.updated.has_value());
  EXPECT_TRUE(record.updated->processor);
  EXPECT_EQ(record.updated->option, "B1");
  std::vector<std::string> roles;
  for (const ServiceRecordFile& file : record.files) {
    roles.push_back(file.role);
    EXPECT_EQ(file.sha256.size(), 64u) << file.name;
  }
  EXPECT_EQ(roles, (std::vector<std::string>{"loader", "transfer", "program", "option"}));
  EXPECT_EQ(record.steps.back(), "ERROR - ended by signal 9 (Killed)");
}

// SIGKILL leaves the fleet no time for anything: its children, told by the kernel, cancel
// and keep their own records in the fleet's history.
TEST(Fleet, a_killed_fleet_loses_no_record) {
  testing_support::TempDir dir;
  const std::vector<std::string> ports = {simPort(13, ",speed=20"), simPort(14, ",speed=20")};
  FleetProcess fleet(dir, ports);
  ASSERT_TRUE(fleet.waitFor(": OK    Get SW/HW info")) << fleet.output();
  ASSERT_TRUE(fleet.waitFor(": OK    Get SW/HW info")) << fleet.output();
  fleet.killNow();
  const std::vector<StoredRecord> records = waitForRecords(dir, 2);
  ASSERT_EQ(records.size(), 2u);
  std::vector<std::string> seen;
  for (const StoredRecord& stored : records) {
    EXPECT_EQ(stored.record.frontEnd, "fleet");
    EXPECT_EQ(stored.record.outcome, "cancelled") << stored.line;
    ASSERT_TRUE(stored.record.instrument.has_value());
    seen.push_back(stored.record.port + " " + stored.record.instrument->serial);
  }
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, (std::vector<std::string>{ports[0] + " 13", ports[1] + " 14"}));
}

// With one update at a time, a cancel finds the second instrument still waiting: it is
// "cancelled" in the history and in the report alike, and says why in the summary.
TEST(Fleet, instruments_cancelled_before_their_turn_are_cancelled) {
  testing_support::TempDir dir;
  const std::vector<std::string> ports = {simPort(15, ",speed=20"), simPort(16)};
  FleetProcess fleet(dir, ports, {"--jobs", "1"});
  ASSERT_TRUE(fleet.waitFor(": OK    Get SW/HW info")) << fleet.output();
  fleet.interrupt();
  ASSERT_TRUE(fleet.waitFor("Cancel all running updates? [y/N]")) << fleet.output();
  fleet.answer("y\n");
  EXPECT_EQ(fleet.finish(), kExitFailed);
  EXPECT_EQ(historyOutcomes(dir),
            (std::vector<std::string>{ports[0] + " cancelled", ports[1] + " cancelled"}));
  EXPECT_NE(fleet.output().find(ports[1] + ": cancelled (not started: the fleet was cancelled)"),
            std::string::npos)
      << fleet.output();
}

TEST(Fleet, ports_all_lists_a_fake_sysfs_tree) {
  testing_support::TempDir dir;
  namespace fs = std::filesystem;
  const fs::path root = dir.path();
  // A USB adapter, a built-in UART, a placeholder UART and a virtual terminal.
  const fs::path usb = root / "sys/devices/pci0000:00/usb1/1-2";
  fs::create_directories(usb / "1-2:1.0/ttyUSB0");
  fs::create_directories(root / "sys/devices/pnp0/00:05");
  fs::create_directories(root / "sys/devices/platform/serial8250");
  fs::create_directories(root / "sys/bus/usb-serial/drivers/ftdi_sio");
  for (const auto& [name, text] :
       std::vector<std::pair<std::string, std::string>>{{"idVendor", "0403"},
                                                        {"idProduct", "6001"},
                                                        {"manufacturer", "FTDI"},
                                                        // Not UTF-8, and a bidi control.
                                                        {"product", "FT232R\xff\xe2\x80\xae"},
                                                        {"serial", "A10K7Q2B"}}) {
    std::ofstream(usb / name) << text << "\n";
  }
  // The FTDI driver's default latency timer, which slows the echoed link: named, with advice.
  std::ofstream(usb / "1-2:1.0/ttyUSB0/latency_timer") << "16\n";
  fs::create_directories(root / "sys/bus/usb-serial/devices");
  fs::create_directory_symlink(usb / "1-2:1.0/ttyUSB0",
                               root / "sys/bus/usb-serial/devices/ttyUSB0");
  fs::create_directories(root / "dev/serial/by-id");
  fs::create_directories(root / "dev/serial/by-path");
  for (const char* tty : {"ttyUSB0", "ttyS0", "ttyS1", "tty1"}) {
    fs::create_directories(root / "sys/class/tty" / tty);
    std::ofstream(root / "dev" / tty).flush();
  }
  fs::create_directory_symlink(usb / "1-2:1.0/ttyUSB0", root / "sys/class/tty/ttyUSB0/device");
  fs::create_directory_symlink(root / "sys/bus/usb-serial/drivers/ftdi_sio",
                               usb / "1-2:1.0/ttyUSB0/driver");
  fs::create_directory_symlink(root / "sys/devices/pnp0/00:05",
                               root / "sys/class/tty/ttyS0/device");
  fs::create_directory_symlink(root / "sys/devices/platform/serial8250",
                               root / "sys/class/tty/ttyS1/device");
  fs::create_symlink("../../ttyUSB0",
                     root / "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K7Q2B-if00-port0");
  fs::create_symlink("../../ttyUSB0",
                     root / "dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0");

  ::setenv("ZEL_SYSFS_ROOT", (root / "sys").c_str(), 1);
  ::setenv("ZEL_DEV_ROOT", (root / "dev").c_str(), 1);
  testing::internal::CaptureStdout();
  const int status = commandPorts({"--all"}, CommonOptions{});
  const std::string out = testing::internal::GetCapturedStdout();
  ::unsetenv("ZEL_SYSFS_ROOT");
  ::unsetenv("ZEL_DEV_ROOT");
  EXPECT_EQ(status, kExitOk);
  const std::string dev = (root / "dev").string();
  EXPECT_EQ(out, dev + "/ttyS0\n" + dev +
                     "/ttyUSB0  ftdi_sio  USB 0403:6001  FTDI  \"FT232R\\xff\\u202e\"  serial "
                     "A10K7Q2B\n  " +
                     dev + "/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K7Q2B-if00-port0\n  " + dev +
                     "/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0\n"
                     "  latency timer 16 ms: the programming link runs several times slower than "
                     "at 1 ms. zelupdate sets 1 ms while it holds the port; to keep 1 ms: echo 1 | "
                     "sudo tee " +
                     (root / "sys/bus/usb-serial/devices/ttyUSB0/latency_timer").string() +
                     " (or: setserial " + dev + "/ttyUSB0 low_latency)\n");
}

// Every port is checked before anything starts; a bad one is a usage error that names it.
TEST(Fleet, usage_errors_start_nothing) {
  testing_support::TempDir dir;
  namespace fs = std::filesystem;
  // A device node with a stable link to it, and a COM number mapped to it.
  const std::string node = dir.file("ttyFAKE1");
  const std::string link = dir.file("by-id/usb-adapter-port0");
  dir.write("ttyFAKE1", "");
  fs::create_directories(dir.file("by-id"));
  fs::create_symlink("../ttyFAKE1", link);
  dir.write("zelupdate.ini", "[PORTS]\nCOM9=" + node + "\n");
  CommonOptions common;
  common.settingsFile = dir.file("zelupdate.ini");
  const struct {
    std::vector<std::string> args;
    std::string says;
  } rows[] = {
      {{}, "no port given"},
      {{"--jobs", "0", "sim:"}, "--jobs: takes a number from 1 to 1024, not '0'"},
      {{"rfc2217://", "sim:"}, "not a network port: rfc2217://"},
      {{"sim:", "rfc2217://h:99999"}, "not a network port: rfc2217://h:99999"},
      {{"--ports-file", "absent"}, "cannot read ports file absent"},
      {{"sim:", "not-a-port"}, "not a port: not-a-port (COM numbers are 1 to 15"},
      {{"COM0"}, "not a port: COM0"},
      {{"COM16"}, "not a port: COM16"},  // above 15 and not mapped
      {{"com1\x1b[2J"}, "not a port: com1\\x1b[2J"},
      {{"sim:serial=1", "sim:bogus=1"}, "sim:bogus=1: "},
      // Two names of one device: one line would be driven by two runs.
      {{"/dev/null", "/dev/../dev/null"},
       "one device given twice: /dev/null and /dev/../dev/null both reach /dev/null"},
      {{"COM9", node}, "one device given twice: COM9 and " + node + " both reach " + node},
      {{link, "sim:", node}, "one device given twice: " + link + " and " + node},
      {{"rfc2217://rack-4:2001", "rfc2217://rack-4:2001"}, "one device given twice"},
      // The report's folder is not made: a mistyped one is said before anything starts.
      {{"--report", "/missing/dir/r.json", "sim:"},
       "cannot write the report /missing/dir/r.json: no folder /missing/dir"},
      {{"--report", dir.path(), "sim:"}, "cannot write the report " + dir.path() + ": a folder"},
  };
  for (const auto& row : rows) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(commandFleet(row.args, common), kExitUsage) << testing::PrintToString(row.args);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("zelupdate fleet: " + row.says), std::string::npos) << err;
  }
  serial::resetComPortMapping();
  EXPECT_FALSE(fs::exists("/missing"));
  for (const fs::directory_entry& entry : fs::directory_iterator(dir.path())) {
    EXPECT_FALSE(entry.path().filename().string().starts_with("fleet-")) << entry.path();
  }
}

// The live table on terminals of several widths: no line wraps; the port column gives way
// first, state and percent keep their width; a finished row shows the run's last box or
// ERROR line. Narrower than 60 columns, plain lines.
TEST(Fleet, the_live_table_fits_the_terminal) {
  testing_support::TempDir dir;
  sim::writeSampleUpdateFiles(dir.path());
  const std::string failing = simPort(18, ",fault=erase-fail");
  const struct {
    int columns;
    bool table;
    std::string speed;  // slow enough for the percent to be seen running, where it is watched
    std::string after;  // the columns after the port's
  } rows[] = {
      {132, true, "virtual", "INSTRUMENT   STATE      %     RATE       LEFT   STEP"},
      {80, true, "virtual", "INSTRUMENT   STATE      %     RATE       LEFT   STEP"},
      {60, true, "60", "INSTRUMENT   STATE      %     STEP"},
      {59, false, "virtual", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.columns);
    const std::string slow = simPort(17, ",maker=QUORIX&VANTEL,model=ZEL,speed=" + row.speed);
    const ProgramOutput result = runProgram({"fleet", "--settings", dir.file("zelupdate.ini"),
                                             "--history", dir.file("history.jsonl"), slow, failing},
                                            row.columns);
    EXPECT_EQ(result.status, kExitFailed);
    if (!row.table) {
      EXPECT_EQ(result.output.find("\x1b["), std::string::npos);
      EXPECT_NE(result.output.find(slow + ": OK    Get SW/HW info"), std::string::npos);
      continue;
    }
    // Each drawing of a line clears it first; the summary after the table is not drawn.
    std::vector<std::string> drawn;
    for (size_t at = result.output.find("\x1b[2K"); at != std::string::npos;
         at = result.output.find("\x1b[2K", at + 1)) {
      std::string line = result.output.substr(at + 4);
      line = line.substr(0, line.find_first_of("\r\n"));
      EXPECT_LT(line.size(), static_cast<size_t>(row.columns)) << line;
      EXPECT_EQ(line.find("record:"), std::string::npos) << line;
      if (!line.empty()) drawn.push_back(line);
    }
    // Each drawing is a header and a row per port; the port column may narrow as longer
    // steps come, the others stay where the header puts them.
    ASSERT_TRUE(drawn.size() >= 3 && drawn.size() % 3 == 0) << drawn.size();
    bool percentShown = false;
    for (size_t at = 0; at < drawn.size(); at += 3) {
      const std::string& header = drawn[at];
      ASSERT_TRUE(header.starts_with("PORT    ")) << header;  // the port keeps 8 columns
      ASSERT_TRUE(header.ends_with(" " + row.after)) << header;
      const size_t state = header.find("STATE"), percent = header.find('%');
      for (const std::string& line : {drawn[at + 1], drawn[at + 2]}) {
        percentShown =
            percentShown || (line.compare(state, 8, "running ") == 0 &&
                             std::isdigit(line[percent]) && line.find(" %", percent) < percent + 4);
      }
    }
    EXPECT_TRUE(percentShown || row.speed == "virtual");
    const std::string& header = drawn[drawn.size() - 3];
    const std::string& done = drawn[drawn.size() - 2];
    const std::string& failed = drawn.back();
    const size_t state = header.find("STATE");
    EXPECT_EQ(done.substr(state, 11), "success    ") << done;
    EXPECT_EQ(failed.substr(state, 11), "failed     ") << failed;
    // The step column is as wide as the terminal leaves; the box's text starts there.
    EXPECT_EQ(done.compare(header.find("STEP"), 13, "[info] Update"), 0) << done;
    EXPECT_EQ(failed.compare(header.find("STEP"), 13, "[stop] Update"), 0) << failed;
    // The port's middle gives way, so that its end still tells the instruments apart.
    const std::string port = done.substr(0, header.find("INSTRUMENT") - 1);
    const size_t cut = port.find("...");
    ASSERT_NE(cut, std::string::npos) << done;
    EXPECT_TRUE(slow.starts_with(port.substr(0, cut))) << port;
    EXPECT_TRUE(slow.ends_with(port.substr(cut + 3))) << port;
  }
}

TEST(Fleet, a_silent_child_is_killed_after_the_bound) {
  testing_support::TempDir dir;
  dir.write("hangs", "#!/bin/sh\nexec sleep 30\n");
  ::chmod(dir.file("hangs").c_str(), 0755);
  FleetOptions options;
  options.ports = {simPort(10), simPort(11)};
  options.program = dir.file("hangs");
  options.updateFolder = options.workFolder = dir.path();
  options.outputFd = ::open("/dev/null", O_WRONLY);
  options.silenceLimitMs = 200;
  options.catchSignals = false;
  FleetResult result;
  EXPECT_EQ(runFleet(options, &result), kExitFailed);
  ::close(options.outputFd);
  ASSERT_EQ(result.rows.size(), 2u);
  for (const FleetRow& row : result.rows) {
    EXPECT_EQ(row.outcome, "failed");
    // Killed after its 0.2 s of silence, long before its 30 s of sleep were over, however
    // slowly a busy machine starts it.
    EXPECT_LT(row.seconds(), 15.0);
    EXPECT_EQ(row.record.steps.back(), "ERROR - no sign of life for 0.2 s: killed");
  }
}

// The reboot wait is long, yet the run is alive: its progress lines go on, and a bound on
// silence shorter than the wait does not kill it.
TEST(Fleet, a_long_reboot_is_not_taken_for_a_hang) {
  testing_support::TempDir dir;
  sim::writeSampleUpdateFiles(dir.path());
  FleetOptions options;
  // 3 s of real time booting; at eight times the speed the target's 2 s echo deadline is
  // 250 ms of real time, a margin that a busy machine's scheduling does not eat up.
  options.ports = {simPort(12, ",speed=8,boot-time=24")};
  options.program = ZEL_PROGRAM;
  options.updateFolder = options.workFolder = dir.path();
  options.settingsFile = dir.file("zelupdate.ini");
  options.outputFd = ::open("/dev/null", O_WRONLY);
  options.silenceLimitMs = 2000;
  options.catchSignals = false;
  FleetResult result;
  EXPECT_EQ(runFleet(options, &result), kExitOk);
  ::close(options.outputFd);
  ASSERT_EQ(result.rows.size(), 1u);
  EXPECT_EQ(result.rows[0].outcome, "success") << result.rows[0].why;
}

// A fleet whose children end at once without a word, in `work`, with the update files of
// `updateFolder`: what the fleet makes of its folders is all these runs leave.
FleetResult quickFleet(const testing_support::TempDir& work, const std::string& updateFolder,
                       const std::vector<std::string>& ports) {
  work.write("ends", "#!/bin/sh\nexit 0\n");
  ::chmod(work.file("ends").c_str(), 0755);
  FleetOptions options;
  options.ports = ports;
  options.program = work.file("ends");
  options.updateFolder = updateFolder;
  options.workFolder = work.path();
  options.outputFd = ::open("/dev/null", O_WRONLY);
  options.catchSignals = false;
  FleetResult result;
  runFleet(options, &result);
  ::close(options.outputFd);
  return result;
}

// Two fleets of the same second never share a folder: the second's name taken (by another
// fleet's folder, or by anything else) is passed over for the next number, and what holds
// the name is left as it was.
TEST(Fleet, each_fleet_makes_a_folder_of_its_own) {
  // The fleet starts within this many seconds of the test, however busy the machine.
  constexpr int kSeconds = 5;
  const struct {
    const char* name;
    std::vector<std::string> taken;  // the endings of the names that are taken
    bool takenByFile;
    const char* ending;
  } rows[] = {
      {"a free name", {}, false, ""},
      {"another fleet of the same second", {""}, false, "-2"},
      {"two others", {"", "-2"}, false, "-3"},
      {"a file of that name", {""}, true, "-2"},
  };
  for (const auto& row : rows) {
    testing_support::TempDir work(false);
    work.write("IMAGE.BIN", "image");
    const std::time_t now = std::time(nullptr);
    std::vector<std::string> takenNames;
    for (std::time_t second = now; second < now + kSeconds; ++second) {
      for (const std::string& ending : row.taken) {
        const std::string name = "fleet-" + platform::formatUtcStamp(second) + ending;
        takenNames.push_back(name);
        if (row.takenByFile) {
          work.write(name, "taken");
        } else {
          fs::create_directory(work.file(name));
          work.write(name + "/taken", "taken");
        }
      }
    }
    const FleetResult result = quickFleet(work, work.path(), {"sim:serial=1", "sim:serial=2"});
    ASSERT_LT(result.start, now + kSeconds) << row.name;
    EXPECT_EQ(result.folder,
              work.file("fleet-" + platform::formatUtcStamp(result.start) + row.ending))
        << row.name;
    for (const FleetRow& fleetRow : result.rows) {
      EXPECT_EQ(fs::path(fleetRow.folder).parent_path(), result.folder) << row.name;
      EXPECT_EQ(readWhole(fleetRow.folder + "/IMAGE.BIN"), "image") << row.name;
    }
    for (const std::string& name : takenNames) {
      const std::string kept = row.takenByFile ? work.read(name) : work.read(name + "/taken");
      EXPECT_EQ(kept, "taken") << row.name << " " << name;
      if (!row.takenByFile) {
        EXPECT_EQ(std::distance(fs::directory_iterator(work.file(name)), {}), 1) << name;
      }
    }
  }
}

// Each child's folder holds the update files themselves, never symbolic links (Windows
// refuses them): hard links where the update folder shares the fleet's file system, copies
// where it does not (/dev/shm, where it is a file system apart). An update file that is a
// symbolic link brings the file it names.
TEST(Fleet, child_folders_hold_the_update_files_as_hard_links_or_copies) {
  char shmTemplate[] = "/dev/shm/zelupdate-fleet-XXXXXX";
  const char* shm = ::mkdtemp(shmTemplate);
  testing_support::TempDir work(false);
  const struct {
    const char* name;
    std::string updateFolder;
  } rows[] = {
      {"beside the fleet", work.file("set")},
      {"on another file system", shm ? shm : work.file("set-2")},
  };
  for (const auto& row : rows) {
    fs::create_directories(row.updateFolder);
    std::ofstream(row.updateFolder + "/NO_DVBT.bin") << "firmware";
    work.write("elsewhere.bin", "dsp");
    fs::create_symlink(work.file("elsewhere.bin"), row.updateFolder + "/ATSC.BIN");
    const FleetResult result = quickFleet(work, row.updateFolder, {"sim:serial=3"});
    ASSERT_EQ(result.rows.size(), 1u) << row.name;
    const std::string child = result.rows[0].folder;
    for (const char* name : {"NO_DVBT.bin", "ATSC.BIN"}) {
      const std::string source = row.updateFolder + "/" + name;
      const std::string placed = child + "/" + name;
      struct stat placedInfo {
      }, sourceInfo{}, folderInfo{};
      ASSERT_EQ(::lstat(placed.c_str(), &placedInfo), 0) << row.name << " " << name;
      ASSERT_EQ(::stat(source.c_str(), &sourceInfo), 0);
      ASSERT_EQ(::stat(child.c_str(), &folderInfo), 0);
      EXPECT_TRUE(S_ISREG(placedInfo.st_mode)) << row.name << " " << name;
      EXPECT_EQ(readWhole(placed), readWhole(source)) << row.name << " " << name;
      // The same file where one file system holds both, a copy where the link was refused.
      const bool sameFile =
          placedInfo.st_dev == sourceInfo.st_dev && placedInfo.st_ino == sourceInfo.st_ino;
      EXPECT_EQ(sameFile, sourceInfo.st_dev == folderInfo.st_dev) << row.name << " " << name;
    }
  }
  if (shm) fs::remove_all(shm);
}

// Times as the progress line writes them, an hour and more included: the summary's time
// column widens for them rather than cutting them.
TEST(Fleet, the_summary_keeps_long_times_whole) {
  FleetResult fleet;
  fleet.folder = "fleet-x";
  const struct {
    int seconds;
    const char* outcome;
    std::string line;
  } rows[] = {
      {65, "success", "COM1 ZEL 1        success    1:05    \n"},
      {3725, "failed", "COM2 ZEL 2        failed     1:02:05 ERROR - hung\n"},
  };
  for (const auto& row : rows) {
    FleetRow& added = fleet.rows.emplace_back();
    added.port = "COM" + std::to_string(fleet.rows.size());
    added.model = "ZEL";
    added.serial = std::to_string(fleet.rows.size());
    added.ended = added.started + std::chrono::seconds(row.seconds);
    added.outcome = row.outcome;
    if (added.outcome == "failed") added.record.steps = {"ERROR - hung"};
  }
  const std::string summary = fleetSummary(fleet);
  EXPECT_NE(summary.find("PORT INSTRUMENT   OUTCOME    TIME    RESULT\n"), std::string::npos)
      << summary;
  for (const auto& row : rows) EXPECT_NE(summary.find(row.line), std::string::npos) << summary;
  EXPECT_NE(summary.find("1 of 2 updates succeeded"), std::string::npos);
}

// Stable names of two adapters that differ only in their serial number, beside other
// ports: the live table and the summary cut a name in its middle only, keep what tells
// each port from the others, and fit the terminal.
TEST(Fleet, long_port_names_stay_apart_at_every_width) {
  const std::vector<std::string> ports = {
      "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10KXYZ1-if00-port0",
      "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10KXYZ2-if00-port0",
      "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0",
      "/dev/serial/by-path/pci-0000:00:14.0-usb-0:3:1.0-port0", "COM5"};
  FleetResult fleet;
  fleet.folder = "fleet-x";
  for (const std::string& port : ports) {
    FleetRow& row = fleet.rows.emplace_back();
    row.port = port;
    row.model = "ZEL";
    row.serial = "57";
    row.state = FleetRow::State::Running;
    row.step = "Download processor firmware";
    row.percent = 40;
    row.bytesPerSecond = 1900;
    row.secondsLeft = 75;
    row.outcome = "failed";
    row.record.result = 0x20113;
    row.record.resultMeaning = "program data: the receive of a chunk's answer failed";
  }
  const struct {
    size_t columns;
    const char* tableCell;    // the first port in the live table
    const char* summaryCell;  // and in the summary
  } rows[] = {
      {60, "...1-if00-port0", "...1-if00-port0"},
      {80, "...1-if00-port0", "/dev/serial/...1-if00-port0"},
      {200, "/dev/serial/by-id/us...T_A10KXYZ1-if00-port0",
       "/dev/serial/by-id/us...T_A10KXYZ1-if00-port0"},
  };
  // Each port's cell: the name whole, or its head and tail around "..."; none alike.
  const auto expectApart = [&](const std::vector<std::string>& lines, size_t width) {
    std::vector<std::string> cells;
    for (size_t i = 0; i < ports.size(); ++i) {
      std::string cell = lines[i + 1].substr(0, width);
      cell.erase(cell.find_last_not_of(' ') + 1);
      const size_t cut = cell.find("...");
      if (cut == std::string::npos) {
        EXPECT_EQ(cell, ports[i]);
      } else {
        EXPECT_TRUE(ports[i].starts_with(cell.substr(0, cut)) &&
                    ports[i].ends_with(cell.substr(cut + 3)))
            << cell;
      }
      EXPECT_EQ(std::count(cells.begin(), cells.end(), cell), 0) << cell;
      cells.push_back(cell);
    }
    return cells;
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.columns);
    // Both leave the terminal's last column free.
    const std::vector<std::string> table = liveTableLines(fleet.rows, row.columns - 1, 0);
    std::vector<std::string> summary;
    std::string text = fleetSummary(fleet, row.columns - 1);
    for (size_t at = 1; at < text.size();) {  // after the empty first line
      const size_t end = text.find('\n', at);
      summary.push_back(text.substr(at, end - at));
      at = end + 1;
    }
    ASSERT_EQ(table.size(), ports.size() + 1);
    ASSERT_EQ(summary.size(), ports.size() + 2);  // and the count of successes
    summary.pop_back();
    std::vector<std::string> every = table;
    every.insert(every.end(), summary.begin(), summary.end());
    for (const std::string& line : every) EXPECT_LT(textColumns(line), row.columns) << line;
    const size_t tableWidth = table[0].find_first_not_of(' ', 4) - 1;
    const size_t summaryWidth = summary[0].find_first_not_of(' ', 4) - 1;
    EXPECT_EQ(expectApart(table, tableWidth)[0], row.tableCell);
    EXPECT_EQ(expectApart(summary, summaryWidth)[0], row.summaryCell);
  }
}

}  // namespace
