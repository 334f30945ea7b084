// zelupdate fleet as the technician runs it: the program with its children, on pipes.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/json_value.h"
#include "app/service_record.h"
#include "cli/command_line.h"
#include "cli/fleet.h"
#include "sim/sample_files.h"
#include "tests/support/temp_dir.h"

namespace {

std::string simPort(int serial, const std::string& extra = "") {
  return "sim:version=04.40,hw=0x10020,serial=" + std::to_string(serial) + extra;
}

// The fleet program running in a folder with the sample update set, its input and output
// on pipes.
class FleetProcess {
 public:
  FleetProcess(const testing_support::TempDir& dir, const std::vector<std::string>& ports) {
    sim::writeSampleUpdateFiles(dir.path());
    std::vector<std::string> args = {ZEL_PROGRAM,  "fleet",
                                     "--settings", dir.file("zelupdate.ini"),
                                     "--history",  dir.file("history.jsonl"),
                                     "--report",   dir.file("report.json")};
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

// Port and outcome of every record in the history file, and every run in the report.
std::vector<std::string> historyOutcomes(const testing_support::TempDir& dir) {
  std::vector<StoredRecord> records;
  readHistory(dir.file("history.jsonl"), {}, records, nullptr);
  std::vector<std::string> out;
  for (const StoredRecord& stored : records) {
    EXPECT_EQ(stored.record.frontEnd, "fleet");
    out.push_back(stored.record.port + " " + stored.record.outcome);
  }
  std::sort(out.begin(), out.end());
  JsonValue report;
  EXPECT_TRUE(parseJson(dir.read("report.json"), report));
  const JsonValue* runs = report.get("runs");
  EXPECT_TRUE(runs && runs->items.size() == out.size());
  return out;
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

TEST(Fleet, a_child_killed_from_outside_fails_alone) {
  testing_support::TempDir dir;
  const std::string victim = simPort(7, ",speed=20");
  FleetProcess fleet(dir, {victim, simPort(8), simPort(9)});
  ASSERT_TRUE(fleet.waitFor(victim + ": OK    Get SW/HW info")) << fleet.output();
  const pid_t child = fleet.childFor(victim);
  ASSERT_GT(child, 0);
  ::kill(child, SIGKILL);
  EXPECT_EQ(fleet.finish(), kExitFailed);
  EXPECT_NE(fleet.output().find(victim + ": failed (ended by signal 9"), std::string::npos)
      << fleet.output();
  EXPECT_EQ(historyOutcomes(dir),
            (std::vector<std::string>{victim + " failed", simPort(8) + " success",
                                      simPort(9) + " success"}));
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
                                                        {"product", "FT232R USB UART"},
                                                        {"serial", "A10K7Q2B"}}) {
    std::ofstream(usb / name) << text << "\n";
  }
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
                     "/ttyUSB0  ftdi_sio  USB 0403:6001  FTDI  \"FT232R USB UART\"  serial "
                     "A10K7Q2B\n  " +
                     dev + "/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K7Q2B-if00-port0\n  " + dev +
                     "/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0\n");
}

TEST(Fleet, usage_errors_start_nothing) {
  testing_support::TempDir dir;
  const std::vector<std::vector<std::string>> cases = {
      {}, {"--jobs", "0", "sim:"}, {"/dev/null", "/dev/../dev/null"}, {"--ports-file", "absent"}};
  for (const std::vector<std::string>& args : cases) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(commandFleet(args, CommonOptions{}), kExitUsage) << testing::PrintToString(args);
    testing::internal::GetCapturedStderr();
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));  // no fleet folder
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
  options.ports = {simPort(12, ",speed=20,boot-time=60")};  // 3 s of real time booting
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

}  // namespace
