#include "cli/fleet.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "cli/fleet_children.h"
#include "cli/fleet_report.h"
#include "cli/fleet_table.h"
#include "platform/folder_files.h"
#include "platform/path_text.h"
#include "platform/requests.h"
#include "platform/terminal.h"
#include "platform/time_text.h"
#include "run/progress_lines.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kCancelQuestion = "Cancel all running updates? [y/N] ";
constexpr size_t kMaxAnswer = 16;
// While a child's output has ended and its end is not collected yet, the loop looks again
// this soon; otherwise the silence bound needs no more than a slow tick.
constexpr int kEndingTickMs = 20;
constexpr int kIdleTickMs = 1000;
// The numbered names tried after the first before the fleet gives up.
constexpr int kMaxFleetFolderNumber = 1000;

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

// The folder of a fleet started at `start`: fleet-YYYYMMDD-HHMMSS, or with -2, -3, ... after
// it where another fleet of the same second (or anything else) has the name. Made here, by
// a create that fails on a name that is taken, so that two fleets never share a folder and
// overwrite each other's runs. False, with `why`, when none can be made.
bool makeFleetFolder(const std::string& workFolder, std::time_t start, std::string& folder,
                     std::string& why) {
  const std::string first =
      platform::utf8FromPath(platform::pathFromUtf8(workFolder) /
                             platform::pathFromUtf8("fleet-" + platform::formatUtcStamp(start)));
  folder = first;
  for (int number = 1; number <= kMaxFleetFolderNumber; ++number) {
    if (number > 1) folder = first + "-" + std::to_string(number);
    std::string problem;
    switch (platform::createNewFolder(folder, &problem)) {
      case platform::NewFolder::Created:
        return true;
      case platform::NewFolder::Exists:
        continue;
      case platform::NewFolder::Failed:
        why = "cannot create " + folder + ": " + problem;
        return false;
    }
  }
  why = "cannot create " + first + ": the name and " + std::to_string(kMaxFleetFolderNumber - 1) +
        " numbered ones are taken";
  return false;
}

class Fleet {
 public:
  Fleet(const FleetOptions& options, FleetResult& result)
      : m_options(options), m_result(result), m_rows(result.rows), m_table(options.outputFd) {
    m_silenceLimitMs =
        options.silenceLimitMs > 0 ? options.silenceLimitMs : defaultSilenceLimitMs();
  }

  int run();

 private:
  void start(size_t index);
  void readOutput(size_t index);
  void takeLine(FleetRow& row, const std::string& line);
  void reap(size_t index);
  void finish(size_t index, const platform::ChildExit& exit);
  void cancelAll();
  void serveRequests();
  void serveAnswer();
  void wait();
  void show(bool force) {
    m_table.draw(m_rows, m_questionOpen ? kCancelQuestion + m_answer : std::string(), force);
  }
  size_t running() const {
    return static_cast<size_t>(std::count_if(m_rows.begin(), m_rows.end(), [](const FleetRow& r) {
      return r.state == FleetRow::State::Running;
    }));
  }

  const FleetOptions& m_options;
  FleetResult& m_result;
  std::vector<FleetRow>& m_rows;
  std::vector<std::unique_ptr<FleetChild>> m_children;  // one per row while it runs
  FleetTable m_table;
  int64_t m_silenceLimitMs = 0;
  bool m_cancelled = false;
  // The question whether to cancel all: open while it waits for its answer.
  bool m_questionOpen = false;
  bool m_inputOpen = true;
  std::string m_answer;
  // Why the fleet has no folder of its own; every run then fails with it, none starts.
  std::string m_folderProblem;
};

void Fleet::start(size_t index) {
  FleetRow& row = m_rows[index];
  row.started = Clock::now();
  row.startUtc = std::time(nullptr);
  row.state = FleetRow::State::Running;
  row.step = "starting";
  std::string why = m_folderProblem;
  auto child = std::make_unique<FleetChild>();
  if (!why.empty() || !prepareChildFolder(m_options, row.folder, why) ||
      !child->start(childRunArguments(m_options, row.port, row.folder), row.folder, &why)) {
    row.why = why;
    finish(index, platform::ChildExit{});
    return;
  }
  row.launched = true;
  if (m_cancelled) {
    child->terminate();
    row.cancelSent = true;
  }
  m_children[index] = std::move(child);
  m_table.changed();
}

void Fleet::takeLine(FleetRow& row, const std::string& text) {
  const RunLine line = parseRunLine(text);
  switch (line.kind) {
    case RunLineKind::Progress:
      if (line.progress.percent != row.percent || m_table.live()) m_table.changed();
      row.percent = line.progress.percent;
      row.bytesPerSecond = line.progress.bytesPerSecond;
      row.secondsLeft = line.progress.secondsLeft;
      return;
    case RunLineKind::Unreadable:
    case RunLineKind::RecordKept:  // where the child kept its record
      return;
    case RunLineKind::RecordSoFar: {
      ServiceRecord known;
      if (parseRecordLine(line.text, known)) row.recordSoFar = known;
      return;
    }
    case RunLineKind::Instrument:
      row.model = line.model;
      row.serial = line.serial;
      m_table.changed();
      return;
    case RunLineKind::Status:
      break;
  }
  if (text.empty()) return;
  // A box's further lines are indented: its first line stands for it, with the answer.
  if (text.front() == ' ') {
    const size_t arrow = text.find("-> ");
    if (arrow == std::string::npos || row.step.ends_with(text.substr(arrow))) return;
    row.step += " " + text.substr(arrow);
  } else {
    row.step = text;
    m_table.changed();
    if (text.front() == '[') return;  // a box: said with its answer
  }
  m_table.changed();
  m_table.sayStep(row);
}

void Fleet::readOutput(size_t index) {
  if (!m_children[index]) return;
  for (const std::string& line : m_children[index]->takeLines()) takeLine(m_rows[index], line);
}

// A child whose output has ended is collected; one silent for too long is killed first.
void Fleet::reap(size_t index) {
  FleetRow& row = m_rows[index];
  FleetChild* child = m_children[index].get();
  if (row.state != FleetRow::State::Running || !child || !child->running()) return;
  const bool killed = row.why.empty() && child->killIfSilent(m_silenceLimitMs, row.why);
  if (child->outputOpen() && !killed) return;
  platform::ChildExit exit;
  if (!child->wait(killed, exit)) return;
  readOutput(index);
  finish(index, exit);
}

void Fleet::finish(size_t index, const platform::ChildExit& exit) {
  FleetRow& row = m_rows[index];
  row.state = FleetRow::State::Done;
  row.ended = Clock::now();
  row.endUtc = std::time(nullptr);
  m_children[index].reset();
  m_table.changed();
  const bool ownRecord = collectChildRecord(row, exit);
  if (!ownRecord && !m_options.historyFile.empty()) {
    std::string why;
    if (!appendRecord(m_options.historyFile, row.record, &why)) {
      m_table.say("zelupdate fleet: cannot append to " + m_options.historyFile + ": " + why + "\n");
    }
  }
  m_table.sayEnd(row);
}

void Fleet::cancelAll() {
  m_cancelled = true;
  for (size_t i = 0; i < m_rows.size(); ++i) {
    FleetRow& row = m_rows[i];
    if (row.state == FleetRow::State::Running && m_children[i] && !row.cancelSent) {
      m_children[i]->terminate();
      row.cancelSent = true;
    } else if (row.state == FleetRow::State::Waiting) {
      row.why = "not started: the fleet was cancelled";
      row.startUtc = std::time(nullptr);
      row.started = Clock::now();
      row.cancelSent = true;
      finish(i, platform::ChildExit{});
    }
  }
  m_table.changed();
}

// Ctrl-C asks whether to cancel all; a request to end (SIGTERM, SIGHUP) cancels all.
void Fleet::serveRequests() {
  if (platform::takeAllRequests(platform::Request::Termination) > 0 && !m_cancelled) cancelAll();
  if (platform::takeAllRequests(platform::Request::Interrupt) > 0 && !m_cancelled) {
    if (m_questionOpen || !m_inputOpen) {
      // A second Ctrl-C while the question waits, or no one to answer it: Yes.
      m_questionOpen = false;
      if (!m_table.live()) m_table.say("yes\n");
      cancelAll();
    } else {
      m_questionOpen = true;
      m_answer.clear();
      if (!m_table.live()) m_table.say(kCancelQuestion + std::string("\n"));
    }
    m_table.changed();
  }
}

void Fleet::serveAnswer() {
  char buffer[256];
  const int n = platform::readInput(m_options.inputFd, buffer, sizeof buffer);
  if (n < 0) return;
  if (n == 0) {
    m_inputOpen = false;  // no one left to answer: the question stays No
    if (m_questionOpen) {
      m_questionOpen = false;
      m_table.changed();
    }
    return;
  }
  if (!m_questionOpen) return;  // typed ahead: not an answer to anything
  for (int i = 0; i < n; ++i) {
    if (buffer[i] != '\n') {
      if (m_answer.size() < kMaxAnswer) m_answer += buffer[i];
      continue;
    }
    const bool yes = !m_answer.empty() && (m_answer.front() == 'y' || m_answer.front() == 'Y');
    m_questionOpen = false;
    m_table.changed();
    if (m_table.live()) {
      m_table.lineAdded();  // the answer's line feed moved the table up
    } else {
      m_table.say(yes ? "Cancelling all running updates\n" : "The updates go on\n");
    }
    if (yes) cancelAll();
    return;
  }
}

// Waits for output of a child, an answer, a request or the next tick, and serves them.
void Fleet::wait() {
  std::vector<platform::ChildProcess*> processes;
  bool ending = false;
  for (size_t i = 0; i < m_rows.size(); ++i) {
    if (!m_children[i]) continue;
    processes.push_back(m_children[i]->process());
    ending = ending || !m_children[i]->outputOpen();
  }
  const int timeoutMs =
      ending ? kEndingTickMs
             : (m_table.live() && m_table.dirty() ? FleetTable::kRedrawMs : kIdleTickMs);
  platform::waitForChildren(processes, m_inputOpen ? m_options.inputFd : -1, timeoutMs);
  for (size_t i = 0; i < m_rows.size(); ++i) readOutput(i);
  if (m_inputOpen) {
    const platform::InputWait input = platform::waitForInput(m_options.inputFd, 0);
    if (input == platform::InputWait::Failed) m_inputOpen = false;
    if (input == platform::InputWait::Ready) serveAnswer();
  }
  if (m_options.catchSignals) serveRequests();
}

int Fleet::run() {
  m_result.start = std::time(nullptr);
  makeFleetFolder(m_options.workFolder, m_result.start, m_result.folder, m_folderProblem);
  for (size_t i = 0; i < m_options.ports.size(); ++i) {
    FleetRow row;
    row.port = m_options.ports[i];
    row.folder = platform::joinPath(m_result.folder, folderNameFor(i, row.port));
    m_rows.push_back(row);
  }
  m_children.resize(m_rows.size());
  std::unique_ptr<platform::RequestCatcher> requests;
  if (m_options.catchSignals) {
    requests = std::make_unique<platform::RequestCatcher>(platform::RequestCatching{});
  }
  const size_t jobs = m_options.jobs > 0 ? static_cast<size_t>(m_options.jobs) : m_rows.size();

  for (;;) {
    for (size_t i = 0; i < m_rows.size(); ++i) {
      if (running() >= jobs) break;
      if (m_rows[i].state == FleetRow::State::Waiting && !m_cancelled) start(i);
    }
    const bool allDone = std::all_of(m_rows.begin(), m_rows.end(), [](const FleetRow& r) {
      return r.state == FleetRow::State::Done;
    });
    if (allDone) break;
    show(false);
    wait();
    for (size_t i = 0; i < m_rows.size(); ++i) reap(i);
  }
  m_questionOpen = false;
  show(true);
  m_result.end = std::time(nullptr);
  requests.reset();

  m_table.say(fleetSummary(m_result, m_table.lineColumns()));
  if (!m_options.reportFile.empty()) {
    const std::string why = writeFleetReport(m_options.reportFile, m_result);
    if (!why.empty()) m_table.say("zelupdate fleet: " + why + "\n");
  }
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
