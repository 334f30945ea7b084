#include "cli/fleet.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "app/json_text.h"
#include "app/run_record.h"
#include "app/update_dlg.h"
#include "cli/transcript.h"
#include "dsp/option_kinds.h"
#include "flash/config/config_check.h"
#include "flash/config/config_reader.h"
#include "platform/whole_file.h"
#include "serial/com_ports.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kCancelQuestion = "Cancel all running updates? [y/N] ";
constexpr const char* kProgressPrefix = "progress ";
constexpr const char* kInstrumentPrefix = "instrument ";
constexpr const char* kRecordSoFarPrefix = "record-so-far ";
constexpr const char* kRecordPathPrefix = "record: ";
constexpr const char* kRecordFile = "record.jsonl";
constexpr const char* kTranscriptFile = "transcript.txt";
constexpr const char* kJobFile = "ROMWRITE.CNF";
constexpr const char* kSettingsCopy = "zelupdate.ini";
// The longest a run waits for one thing is its write timeout; a child silent for three of
// those (its progress lines come every second of program time) is hung.
constexpr int64_t kDefaultSilenceLimitMs = 3 * int64_t{kRunWriteTimeoutMs};
// The live table is redrawn at most this often.
constexpr int kRedrawMs = 200;
constexpr size_t kMaxPortWidth = 44;
// The live table's columns. Narrower than kMinTableColumns, a terminal gets plain lines.
constexpr size_t kMinTableColumns = 60;
constexpr size_t kMinPortWidth = 8;
constexpr size_t kInstrumentWidth = 12;
constexpr size_t kStateWidth = 10;   // "cancelling"
constexpr size_t kPercentWidth = 5;  // "100 %"
constexpr size_t kRateWidth = 10;
constexpr size_t kLeftWidth = 6;
constexpr size_t kMinStepWidth = 20;
constexpr size_t kMaxPartialLine = 16384;  // a record-so-far line included
constexpr size_t kMaxRecordBytes = 1 << 20;

// Signals seen by the handler, taken by the loop; the pipe wakes its poll().
std::atomic<int> g_interrupts{0};
std::atomic<int> g_terminations{0};
int g_wakeWrite = -1;

void onSignal(int signal) {
  (signal == SIGINT ? g_interrupts : g_terminations).fetch_add(1);
  const int saved = errno;
  if (g_wakeWrite >= 0) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_wakeWrite, &byte, 1);
  }
  errno = saved;
}

std::string folderNameFor(size_t index, const std::string& port) {
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "%02zu-", index + 1);
  std::string name = prefix;
  for (char c : port) {
    const bool plain = std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-';
    name += plain ? c : '_';
    if (name.size() >= 64) break;
  }
  return name;
}

std::string utcStamp(std::time_t when) {
  std::tm parts{};
  ::gmtime_r(&when, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &parts);
  return text;
}

std::string clockText(double seconds) {
  const int64_t s = std::max<int64_t>(0, static_cast<int64_t>(seconds + 0.5));
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(s / 60),
                static_cast<long long>(s % 60));
  return text;
}

std::string rateText(double bytesPerSecond) {
  if (bytesPerSecond < 0) return std::string();
  char text[32];
  if (bytesPerSecond >= 1000) {
    std::snprintf(text, sizeof text, "%.1f kB/s", bytesPerSecond / 1000);
  } else {
    std::snprintf(text, sizeof text, "%.0f B/s", bytesPerSecond);
  }
  return text;
}

// Cut to a width, marking the cut.
std::string fit(const std::string& text, size_t width) {
  if (text.size() <= width) return text + std::string(width - text.size(), ' ');
  if (width < 3) return text.substr(0, width);
  return text.substr(0, width - 3) + "...";
}

// Cut to a width in the middle: a port's name differs at its end ("...serial=12",
// "...ttyUSB3") as often as at its start.
std::string fitMiddle(const std::string& text, size_t width) {
  if (text.size() <= width || width < 5) return fit(text, width);
  const size_t head = (width - 3) / 2;
  return text.substr(0, head) + "..." + text.substr(text.size() - (width - 3 - head));
}

// Which columns of the live table a terminal's width holds. The port column gives way first
// (down to kMinPortWidth) so that the step fits; where even that is too little, the rate,
// the time left and the instrument go, in that order. State and percent keep their width;
// the step has the rest, at least kMinStepWidth.
struct TableLayout {
  size_t port = 0;
  bool instrument = true, rate = true, left = true;
};

TableLayout tableLayout(size_t columns, size_t longestPort, size_t longestStep) {
  TableLayout layout;
  const size_t portFloor = std::min(longestPort, kMinPortWidth);
  for (int dropped = 0; dropped <= 3; ++dropped) {
    layout.rate = dropped < 1;
    layout.left = dropped < 2;
    layout.instrument = dropped < 3;
    // Every column but the step is followed by one blank.
    const size_t fixed = 1 + (kStateWidth + 1) + (kPercentWidth + 1) +
                         (layout.instrument ? kInstrumentWidth + 1 : 0) +
                         (layout.rate ? kRateWidth + 1 : 0) + (layout.left ? kLeftWidth + 1 : 0);
    const size_t portAndStep = columns > fixed ? columns - fixed : 0;
    if (portAndStep < portFloor + kMinStepWidth && dropped < 3) continue;
    const size_t stepWanted = std::max(kMinStepWidth, longestStep);
    const size_t portRoom = portAndStep > stepWanted ? portAndStep - stepWanted : 0;
    layout.port = std::max(std::min(longestPort, portRoom), portFloor);
    break;
  }
  return layout;
}

bool isUpdateFile(const fs::directory_entry& entry, const std::string& settingsName) {
  std::error_code error;
  if (!entry.is_regular_file(error)) return false;
  const std::string name = entry.path().filename().string();
  if (strcasecmp(name.c_str(), "romwrite.cnf") == 0 || name == settingsName) return false;
  return !name.ends_with(".jsonl") && !name.ends_with(".ini");
}

// The child's folder: links to the update files, its own settings copy.
bool prepareFolder(const FleetOptions& options, const FleetRow& row, std::string& why) {
  std::error_code error;
  fs::create_directories(row.folder, error);
  if (error) {
    why = "cannot create " + row.folder + ": " + error.message();
    return false;
  }
  const std::string settingsName = fs::path(options.settingsFile).filename().string();
  for (const fs::directory_entry& entry : fs::directory_iterator(options.updateFolder, error)) {
    if (!isUpdateFile(entry, settingsName)) continue;
    std::error_code linkError;
    fs::create_symlink(fs::absolute(entry.path()), fs::path(row.folder) / entry.path().filename(),
                       linkError);
  }
  if (!options.settingsFile.empty() && fs::is_regular_file(options.settingsFile, error)) {
    fs::copy_file(options.settingsFile, fs::path(row.folder) / kSettingsCopy,
                  fs::copy_options::overwrite_existing, error);
    if (error) {
      why = "cannot copy " + options.settingsFile + ": " + error.message();
      return false;
    }
  }
  return true;
}

// The DSP image that an option's update programs.
class Fleet {
 public:
  Fleet(const FleetOptions& options, FleetResult& result)
      : m_options(options), m_result(result), m_rows(result.rows) {
    m_terminal = ::isatty(options.outputFd) == 1 && terminalColumns() >= kMinTableColumns;
    m_silenceLimitMs = options.silenceLimitMs > 0 ? options.silenceLimitMs : kDefaultSilenceLimitMs;
  }

  int run();

 private:
  void start(FleetRow& row);
  void readOutput(FleetRow& row);
  void takeLine(FleetRow& row, const std::string& line);
  void reap(FleetRow& row, bool force);
  void finish(FleetRow& row, int waitStatus);
  ServiceRecord recordForSilentChild(FleetRow& row, int waitStatus) const;
  void cancelAll();
  void serveSignals();
  void serveAnswer();
  void show(bool force);
  void say(const std::string& text);
  std::string tableLine(const std::string& port, const std::string& instrument,
                        const std::string& state, const std::string& percent,
                        const std::string& rate, const std::string& left,
                        const std::string& step) const;
  std::string rowText(const FleetRow& row) const;
  size_t terminalColumns() const;
  void summary();
  void writeReport();
  size_t running() const {
    return static_cast<size_t>(std::count_if(m_rows.begin(), m_rows.end(), [](const FleetRow& r) {
      return r.state == FleetRow::State::Running;
    }));
  }

  const FleetOptions& m_options;
  FleetResult& m_result;
  std::vector<FleetRow>& m_rows;
  bool m_terminal = false;  // output to a terminal wide enough for the live table
  int64_t m_silenceLimitMs = 0;
  size_t m_portWidth = 4;  // the port column: the longest port, within bounds
  bool m_cancelled = false;
  bool m_questionOpen = false;
  bool m_inputOpen = true;
  std::string m_answer;
  int m_wake[2] = {-1, -1};
  // The live table: its layout, the rows drawn last time, and when.
  size_t m_columns = 0;  // usable width of the terminal
  TableLayout m_layout;
  size_t m_longestStep = 0;
  int m_drawnLines = 0;
  bool m_dirty = true;
  Clock::time_point m_lastDraw;
};

void Fleet::say(const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(m_options.outputFd, text.data() + done, text.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
}

void Fleet::start(FleetRow& row) {
  row.started = row.lastOutput = Clock::now();
  row.startUtc = std::time(nullptr);
  row.state = FleetRow::State::Running;
  row.step = "starting";
  std::string why;
  int out[2];
  if (!prepareFolder(m_options, row, why) || ::pipe2(out, O_CLOEXEC) != 0) {
    if (why.empty()) why = std::string("cannot create a pipe: ") + std::strerror(errno);
    row.why = why;
    finish(row, -1);
    return;
  }
  const std::string folder = row.folder;
  // The child appends its record to the fleet's history itself, under the history's lock,
  // and keeps a copy in its folder for the report.
  std::vector<std::string> args = {m_options.program, "run",
                                   "--assume-yes",    "--progress-lines",
                                   "--port",          row.port,
                                   "--settings",      folder + "/" + kSettingsCopy,
                                   "--fleet-record",  folder + "/" + kRecordFile,
                                   "--transcript",    folder + "/" + kTranscriptFile};
  if (m_options.verify) args.push_back("--verify");
  if (m_options.historyFile.empty()) {
    args.push_back("--no-history");
  } else {
    args.insert(args.end(), {"--history", m_options.historyFile});
  }
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    // A process group of its own: Ctrl-C at the terminal reaches the fleet alone. Should
    // the fleet die, the child is cancelled as by the fleet's own Yes.
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) _exit(127);
    // Should the fleet die, the child's output goes nowhere: a write fails instead of
    // ending the run before its record is kept.
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGINT, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    const int devNull = ::open("/dev/null", O_RDONLY);
    if (devNull >= 0) ::dup2(devNull, 0);
    ::dup2(out[1], 1);
    ::dup2(out[1], 2);
    if (::chdir(folder.c_str()) == 0) ::execv(argv[0], argv.data());
    _exit(127);
  }
  ::close(out[1]);
  if (pid < 0) {
    ::close(out[0]);
    row.why = std::string("cannot start: ") + std::strerror(errno);
    finish(row, -1);
    return;
  }
  ::setpgid(pid, pid);
  ::fcntl(out[0], F_SETFL, O_NONBLOCK);
  row.pid = pid;
  row.fd = out[0];
  row.launched = true;
  if (m_cancelled) {
    ::kill(-pid, SIGTERM);
    row.cancelSent = true;
  }
  m_dirty = true;
}

void Fleet::takeLine(FleetRow& row, const std::string& line) {
  if (line.starts_with(kProgressPrefix)) {
    int percent = -1;
    double rate = -1;
    long long left = -1;
    if (std::sscanf(line.c_str() + std::strlen(kProgressPrefix), "%d %lf %lld", &percent, &rate,
                    &left) == 3) {
      m_dirty = m_dirty || percent != row.percent;
      row.percent = percent;
      row.bytesPerSecond = rate;
      row.secondsLeft = left;
      if (m_terminal) m_dirty = true;
    }
    return;
  }
  if (line.empty()) return;
  if (line.starts_with(kRecordSoFarPrefix)) {
    ServiceRecord known;
    if (parseRecordLine(line.substr(std::strlen(kRecordSoFarPrefix)), known)) {
      row.recordSoFar = known;
    }
    return;
  }
  if (line.starts_with(kRecordPathPrefix)) return;  // where the child kept its record
  if (line.starts_with(kInstrumentPrefix)) {
    std::istringstream fields(line.substr(std::strlen(kInstrumentPrefix)));
    fields >> row.model >> row.serial;
    m_dirty = true;
    return;
  }
  // A box's further lines are indented: its first line stands for it, with the answer.
  if (line.front() == ' ') {
    const size_t arrow = line.find("-> ");
    if (arrow != std::string::npos && !row.step.ends_with(line.substr(arrow))) {
      row.step += " " + line.substr(arrow);
    } else {
      return;
    }
  } else {
    row.step = line;
    m_dirty = true;
    if (line.front() == '[') return;  // a box: said with its answer
  }
  m_dirty = true;
  if (!m_terminal) say(platform::printablePortName(row.port) + ": " + row.step + "\n");
}

void Fleet::readOutput(FleetRow& row) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(row.fd, buffer, sizeof buffer);
    if (n > 0) {
      row.lastOutput = Clock::now();
      for (ssize_t i = 0; i < n; ++i) {
        if (buffer[i] == '\n') {
          std::string line;
          line.swap(row.partialLine);
          if (!line.empty() && line.back() == '\r') line.pop_back();
          // The child's texts reach this terminal: no control character moves its cursor.
          takeLine(row, platform::printablePortName(line));
        } else if (row.partialLine.size() < kMaxPartialLine) {
          row.partialLine += buffer[i];
        }
      }
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return;
    // End of its output: the child is ending.
    ::close(row.fd);
    row.fd = -1;
    return;
  }
}

std::vector<std::string> stepsOf(const std::string& transcriptFile) {
  std::string text;
  if (!platform::readRegularFile(transcriptFile, kMaxRecordBytes, text)) return {};
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return replayTranscript(lines);
}

// The record of a child that left none (it crashed, was killed, hung or never started):
// what the child told of itself while running (instrument, port, plan), the files of the
// job it wrote, the status list of its transcript, and how it ended.
ServiceRecord Fleet::recordForSilentChild(FleetRow& row, int waitStatus) const {
  ServiceRecord record = row.recordSoFar.value_or(ServiceRecord{});
  record.start = row.startUtc;
  record.end = row.endUtc;
  record.durationSeconds = std::round(row.seconds() * 10) / 10;
  if (record.host.empty()) record.host = hostName();
  if (record.user.empty()) record.user = userName();
  if (record.program.empty()) record.program = programNameAndVersion();
  if (record.mode.empty()) record.mode = "automatic";
  record.port = row.port;
  record.steps = stepsOf(row.folder + "/" + kTranscriptFile);
  if (record.updated) {
    // The job the child wrote for this instrument names the files it was about to program;
    // they are this folder's files (the child's folder only links to them).
    ProgrammingJob job;
    std::string message;
    const bool haveJob = readProgrammingConfig(job, row.folder + "/" + kJobFile) == kConfigReadOk &&
                         checkProgrammingJob(job, message) == 0;
    record.files = updateFilesOf(
        haveJob ? &job : nullptr, record.updated->processor,
        optionImageFile(optionKindOfName(record.updated->option).value_or(kOptionNone)));
  }
  const bool exitedOk = waitStatus >= 0 && WIFEXITED(waitStatus) && WEXITSTATUS(waitStatus) == 0;
  if (exitedOk) {
    record.outcome = runOutcomeText(RunOutcome::kSuccess);
  } else if (row.cancelSent && (!row.launched || (waitStatus >= 0 && WIFEXITED(waitStatus)))) {
    record.outcome = runOutcomeText(RunOutcome::kCancelled);
  } else {
    record.outcome = runOutcomeText(RunOutcome::kFailed);
  }
  if (row.why.empty() && waitStatus >= 0 && WIFSIGNALED(waitStatus)) {
    row.why = std::string("ended by signal ") + std::to_string(WTERMSIG(waitStatus)) + " (" +
              strsignal(WTERMSIG(waitStatus)) + ")";
  }
  if (!row.why.empty()) {
    record.steps.push_back((runOutcomeOf(record.outcome) == RunOutcome::kFailed ? "ERROR - " : "") +
                           row.why);
  }
  if (const int32_t code = firstResultCode(record.steps); code != 0) record.result = code;
  return record;
}

void Fleet::finish(FleetRow& row, int waitStatus) {
  row.state = FleetRow::State::Done;
  row.ended = Clock::now();
  row.endUtc = std::time(nullptr);
  if (row.fd >= 0) ::close(row.fd);
  row.fd = -1;
  m_dirty = true;

  // The child's own record, when it kept one: it is in the history already.
  ServiceRecord record;
  std::string text;
  bool haveRecord = false;
  if (platform::readRegularFile(row.folder + "/" + kRecordFile, kMaxRecordBytes, text)) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
      ServiceRecord parsed;
      if (parseRecordLine(line, parsed)) {
        record = parsed;
        haveRecord = true;
      }
    }
  }
  const bool exitedOk = waitStatus >= 0 && WIFEXITED(waitStatus) && WEXITSTATUS(waitStatus) == 0;
  if (!haveRecord) {
    record = recordForSilentChild(row, waitStatus);
  } else if (!exitedOk && runOutcomeOf(record.outcome) == RunOutcome::kSuccess) {
    record.outcome =
        runOutcomeText(RunOutcome::kFailed);  // a record can not make a failed child a success
  }
  record.frontEnd = "fleet";
  if (record.port.empty()) record.port = row.port;
  if (record.instrument) {
    row.model = record.instrument->model;
    row.serial = record.instrument->serial;
  }
  row.outcome = record.outcome;
  row.record = record;
  // The row's last word: the run's final box as the child said it, else why it ended.
  if (!row.why.empty())
    row.step = (runOutcomeOf(row.outcome) == RunOutcome::kFailed ? "ERROR - " : "") + row.why;
  if (!haveRecord && !m_options.historyFile.empty()) {
    std::string why;
    if (!appendRecord(m_options.historyFile, record, &why)) {
      say("zelupdate fleet: cannot append to " + m_options.historyFile + ": " + why + "\n");
    }
  }
  if (!m_terminal) {
    std::string line = platform::printablePortName(row.port) + ": " + row.outcome;
    if (!row.why.empty()) line += " (" + row.why + ")";
    say(line + "\n");
  }
}

void Fleet::reap(FleetRow& row, bool force) {
  if (row.state != FleetRow::State::Running || row.pid < 0) return;
  const auto silent =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - row.lastOutput);
  if (silent.count() > m_silenceLimitMs && row.why.empty()) {
    char bound[32];
    std::snprintf(bound, sizeof bound, "%g", static_cast<double>(m_silenceLimitMs) / 1000);
    row.why = std::string("no sign of life for ") + bound + " s: killed";
    ::kill(-row.pid, SIGKILL);
    force = true;
  }
  if (row.fd >= 0 && !force) return;
  int status = 0;
  const pid_t done = ::waitpid(row.pid, &status, force ? 0 : WNOHANG);
  if (done != row.pid) return;
  if (row.fd >= 0) readOutput(row);
  row.pid = -1;
  finish(row, status);
}

void Fleet::cancelAll() {
  m_cancelled = true;
  for (FleetRow& row : m_rows) {
    if (row.state == FleetRow::State::Running && row.pid > 0 && !row.cancelSent) {
      ::kill(-row.pid, SIGTERM);
      row.cancelSent = true;
    } else if (row.state == FleetRow::State::Waiting) {
      row.why = "not started: the fleet was cancelled";
      row.startUtc = std::time(nullptr);
      row.started = Clock::now();
      row.cancelSent = true;
      finish(row, -1);
    }
  }
  m_dirty = true;
}

void Fleet::serveSignals() {
  char drain[64];
  while (::read(m_wake[0], drain, sizeof drain) > 0) {
  }
  if (g_terminations.exchange(0) > 0 && !m_cancelled) cancelAll();
  if (g_interrupts.exchange(0) > 0 && !m_cancelled) {
    if (m_questionOpen || !m_inputOpen) {
      // A second Ctrl-C while the question waits, or no one to answer it: Yes.
      m_questionOpen = false;
      if (!m_terminal) say("yes\n");
      cancelAll();
    } else {
      m_questionOpen = true;
      m_answer.clear();
      if (!m_terminal) say(kCancelQuestion + std::string("\n"));
    }
    m_dirty = true;
  }
}

void Fleet::serveAnswer() {
  char buffer[256];
  const ssize_t n = ::read(m_options.inputFd, buffer, sizeof buffer);
  if (n < 0) return;
  if (n == 0) {
    m_inputOpen = false;  // no one left to answer: the question stays No
    if (m_questionOpen) {
      m_questionOpen = false;
      m_dirty = true;
    }
    return;
  }
  if (!m_questionOpen) return;  // typed ahead: not an answer to anything
  for (ssize_t i = 0; i < n; ++i) {
    if (buffer[i] != '\n') {
      if (m_answer.size() < 16) m_answer += buffer[i];
      continue;
    }
    const bool yes = !m_answer.empty() && (m_answer.front() == 'y' || m_answer.front() == 'Y');
    m_questionOpen = false;
    m_dirty = true;
    if (m_terminal) m_drawnLines += 1;  // the answer's line feed moved the table up
    if (!m_terminal) say(yes ? "Cancelling all running updates\n" : "The updates go on\n");
    if (yes) cancelAll();
    return;
  }
}

size_t Fleet::terminalColumns() const {
  winsize size{};
  if (::ioctl(m_options.outputFd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 100;
}

std::string Fleet::tableLine(const std::string& port, const std::string& instrument,
                             const std::string& state, const std::string& percent,
                             const std::string& rate, const std::string& left,
                             const std::string& step) const {
  std::string text = fitMiddle(port, m_layout.port) + " ";
  if (m_layout.instrument) text += fit(instrument, kInstrumentWidth) + " ";
  text += fit(state, kStateWidth) + " " + fit(percent, kPercentWidth) + " ";
  if (m_layout.rate) text += fit(rate, kRateWidth) + " ";
  if (m_layout.left) text += fit(left, kLeftWidth) + " ";
  // The last column: a long step is cut at the terminal's edge, never wrapped.
  const size_t room = m_columns > text.size() ? m_columns - text.size() : 0;
  return text + (step.size() > room ? fit(step, room) : step);
}

std::string Fleet::rowText(const FleetRow& row) const {
  std::string instrument = row.model;
  if (!row.serial.empty()) instrument += (instrument.empty() ? "" : " ") + row.serial;
  std::string percent, rate, left;
  if (row.state == FleetRow::State::Running && row.percent >= 0) {
    percent = std::to_string(row.percent) + " %";
    rate = rateText(row.bytesPerSecond);
    if (row.secondsLeft >= 0) left = clockText(static_cast<double>(row.secondsLeft));
  }
  std::string state = row.outcome;
  if (row.state == FleetRow::State::Waiting) state = "waiting";
  if (row.state == FleetRow::State::Running) state = row.cancelSent ? "cancelling" : "running";
  return tableLine(platform::printablePortName(row.port), instrument, state, percent, rate, left,
                   row.step);
}

void Fleet::show(bool force) {
  if (!m_terminal) return;
  const Clock::time_point now = Clock::now();
  if (!force && (!m_dirty || now - m_lastDraw < std::chrono::milliseconds(kRedrawMs))) return;
  // The last column stays free: a line that fills the width would wrap on some terminals.
  m_columns = std::max(terminalColumns(), kMinTableColumns) - 1;
  size_t longestPort = 4;
  for (const FleetRow& row : m_rows) {
    longestPort = std::max(longestPort, platform::printablePortName(row.port).size());
  }
  // The longest step so far: the port column only narrows as the run goes on.
  for (const FleetRow& row : m_rows) m_longestStep = std::max(m_longestStep, row.step.size());
  m_layout = tableLayout(m_columns, std::min(longestPort, kMaxPortWidth), m_longestStep);
  std::string out;
  if (m_drawnLines > 0) out += "\r\x1b[" + std::to_string(m_drawnLines) + "A";
  out += "\r\x1b[2K" + tableLine("PORT", "INSTRUMENT", "STATE", "%", "RATE", "LEFT", "STEP") + "\n";
  for (const FleetRow& row : m_rows) out += "\r\x1b[2K" + rowText(row) + "\n";
  m_drawnLines = static_cast<int>(m_rows.size()) + 1;
  out += "\r\x1b[2K";
  if (m_questionOpen) out += kCancelQuestion + m_answer;
  say(out);
  m_dirty = false;
  m_lastDraw = now;
}

void Fleet::summary() {
  std::string out = "\n";
  out += fit("PORT", m_portWidth) + " " + fit("INSTRUMENT", 12) + " " + fit("OUTCOME", 10) + " " +
         fit("TIME", 6) + " RESULT\n";
  int succeeded = 0;
  for (const FleetRow& row : m_rows) {
    std::string instrument = row.model;
    if (!row.serial.empty()) instrument += (instrument.empty() ? "" : " ") + row.serial;
    std::string result;
    if (row.record.result && *row.record.result != 0) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "0x%X", static_cast<uint32_t>(*row.record.result));
      result = hex;
      if (!row.record.resultMeaning.empty()) result += " " + row.record.resultMeaning;
    } else if (!row.why.empty()) {
      result = row.why;
    } else if (runOutcomeOf(row.outcome) != RunOutcome::kSuccess && !row.record.steps.empty()) {
      result = row.record.steps.back();
    }
    out += fit(platform::printablePortName(row.port), m_portWidth) + " " + fit(instrument, 12) +
           " " + fit(row.outcome, 10) + " " + fit(clockText(row.seconds()), 6) + " " + result +
           "\n";
    if (runOutcomeOf(row.outcome) == RunOutcome::kSuccess) ++succeeded;
  }
  out += std::to_string(succeeded) + " of " + std::to_string(m_rows.size()) +
         " updates succeeded; each child's files are in " + m_result.folder + "\n";
  say(out);
}

void Fleet::writeReport() {
  if (m_options.reportFile.empty()) return;
  Json report = {{"start", isoUtc(m_result.start)},
                 {"end", isoUtc(m_result.end)},
                 {"ports", Json::array()},
                 {"runs", Json::array()}};
  for (const FleetRow& row : m_rows) {
    report["ports"].push_back(jsonString(row.port));
    report["runs"].push_back(serviceRecordValue(row.record));
  }
  const std::string json = jsonLine(report) + "\n";
  std::string why;
  std::error_code error;
  // Checked before the start as well: a folder that went away meanwhile is not made anew.
  if (!fs::is_directory(fs::path(m_options.reportFile).parent_path(), error)) {
    say("zelupdate fleet: cannot write report " + m_options.reportFile + ": its folder is gone\n");
  } else if (!platform::writeFileWhole(m_options.reportFile, json, &why)) {
    say("zelupdate fleet: cannot write report " + m_options.reportFile + ": " + why + "\n");
  }
}

int Fleet::run() {
  m_result.start = std::time(nullptr);
  m_result.folder =
      (fs::path(m_options.workFolder) / ("fleet-" + utcStamp(m_result.start))).string();
  for (size_t i = 0; i < m_options.ports.size(); ++i) {
    FleetRow row;
    row.port = m_options.ports[i];
    row.folder = m_result.folder + "/" + folderNameFor(i, row.port);
    m_portWidth =
        std::clamp(platform::printablePortName(row.port).size(), m_portWidth, kMaxPortWidth);
    m_rows.push_back(row);
  }
  if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
  struct sigaction action {
  }, oldInt{}, oldTerm{}, oldHup{};
  if (m_options.catchSignals) {
    g_interrupts = 0;
    g_terminations = 0;
    g_wakeWrite = m_wake[1];
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &oldInt);
    ::sigaction(SIGTERM, &action, &oldTerm);
    ::sigaction(SIGHUP, &action, &oldHup);
  }
  const size_t jobs = m_options.jobs > 0 ? static_cast<size_t>(m_options.jobs) : m_rows.size();

  for (;;) {
    for (FleetRow& row : m_rows) {
      if (running() >= jobs) break;
      if (row.state == FleetRow::State::Waiting && !m_cancelled) start(row);
    }
    const bool allDone = std::all_of(m_rows.begin(), m_rows.end(), [](const FleetRow& r) {
      return r.state == FleetRow::State::Done;
    });
    if (allDone) break;
    show(false);

    std::vector<pollfd> fds;
    std::vector<FleetRow*> owners;
    fds.push_back({m_wake[0], POLLIN, 0});
    owners.push_back(nullptr);
    if (m_inputOpen) {
      fds.push_back({m_options.inputFd, POLLIN, 0});
      owners.push_back(nullptr);
    }
    for (FleetRow& row : m_rows) {
      if (row.fd < 0) continue;
      fds.push_back({row.fd, POLLIN, 0});
      owners.push_back(&row);
    }
    // Children whose output has ended are reaped on the next round; the redraw and the
    // silence bound need no more than a slow tick.
    const bool ending = std::any_of(m_rows.begin(), m_rows.end(), [](const FleetRow& r) {
      return r.state == FleetRow::State::Running && r.fd < 0;
    });
    const int timeout = ending ? 20 : (m_terminal && m_dirty ? kRedrawMs : 1000);
    const int ready = ::poll(fds.data(), fds.size(), timeout);
    if (ready < 0 && errno != EINTR) break;
    for (size_t i = 0; ready > 0 && i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      if (owners[i]) {
        readOutput(*owners[i]);
      } else if (fds[i].fd == m_wake[0]) {
        serveSignals();
      } else if (fds[i].revents & (POLLHUP | POLLERR | POLLNVAL) && !(fds[i].revents & POLLIN)) {
        m_inputOpen = false;
      } else {
        serveAnswer();
      }
    }
    if (g_interrupts.load() > 0 || g_terminations.load() > 0) serveSignals();
    for (FleetRow& row : m_rows) reap(row, false);
  }
  m_questionOpen = false;
  show(true);
  m_result.end = std::time(nullptr);
  if (m_options.catchSignals) {
    ::sigaction(SIGINT, &oldInt, nullptr);
    ::sigaction(SIGTERM, &oldTerm, nullptr);
    ::sigaction(SIGHUP, &oldHup, nullptr);
    g_wakeWrite = -1;
  }
  ::close(m_wake[0]);
  ::close(m_wake[1]);

  summary();
  writeReport();
  const bool allSucceeded = std::all_of(m_rows.begin(), m_rows.end(), [](const FleetRow& r) {
    return runOutcomeOf(r.outcome) == RunOutcome::kSuccess;
  });
  m_result.status = allSucceeded ? 0 : 1;
  return m_result.status;
}

}  // namespace

int runFleet(const FleetOptions& options, FleetResult* result) {
  FleetResult local;
  FleetResult& out = result ? *result : local;
  out = FleetResult();
  Fleet fleet(options, out);
  return fleet.run();
}
