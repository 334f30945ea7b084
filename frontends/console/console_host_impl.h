// The console host's state shared by its parts: the output and the progress line at the
// terminal's bottom (console_progress_line.cpp), the questions and keys (console_keys.cpp),
// the pump and the requests to stop (console_host.cpp). Internal to the console front end.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "frontends/console/console_host.h"
#include "platform/requests.h"
#include "platform/terminal.h"
#include "run/run_progress.h"

namespace ui {

class ConsoleWindow;

inline bool takeInterrupt() {
  return platform::takeRequest(platform::Request::Interrupt);
}

constexpr size_t kDefaultColumns = 80;

// Terminal rows a printed line takes at this width (tabs to the next multiple of 8, UTF-8
// sequences as one column).
int rowsFor(const std::string& text, size_t columns);

struct ConsoleHost::Impl {
  explicit Impl(ConsoleOptions o) : options(std::move(o)) {
    outputTerminal = platform::isTerminal(options.outputFd);
    inputTerminal = platform::isTerminal(options.inputFd);
  }

  ConsoleOptions options;
  bool outputTerminal = false;
  bool inputTerminal = false;

  std::vector<ConsoleWindow*> windows;  // innermost last
  std::deque<std::function<void()>> posted;
  // While the outermost dialog runs: the requests to stop, and output nobody reads.
  std::unique_ptr<platform::RequestCatcher> requests;
  std::unique_ptr<platform::ClosedOutputTolerated> closedOutput;
  // Requests to end the program since the outermost dialog started: the second one ends it.
  int terminationsTaken = 0;

  // Output waiting to be written, and what the terminal shows at its bottom.
  std::string pending;
  bool progressShown = false;
  std::string progressText;
  // The last list line printed, while nothing else has been printed below it.
  int lastLineControl = -1;
  int lastLineRows = 0;

  // The moved bytes, sampled at the timer's ticks: the rate and the time left.
  ProgressMeter progressMeter;

  bool interactive() const { return inputTerminal && outputTerminal && !options.assumeYes; }

  size_t columns() const {
    const int columns = platform::terminalColumns(options.outputFd);
    return columns > 0 ? static_cast<size_t>(columns) : kDefaultColumns;
  }

  void flush() {
    std::fflush(stdout);
    // Output gone (a closed pipe): the run itself goes on.
    if (!pending.empty()) platform::writeOutput(options.outputFd, pending);
    pending.clear();
  }

  // Output other than the progress line goes above it: take it away first...
  void beginOutput() {
    if (progressShown) {
      pending += "\r\x1b[K";
      progressShown = false;
    }
  }
  // ... and put it back after, while a timer still runs.
  void endOutput();

  void printListLine(int controlId, const std::string& text) {
    beginOutput();
    pending += text;
    pending += '\n';
    lastLineControl = controlId;
    lastLineRows = rowsFor(text, columns());
    endOutput();
  }

  // The last line of a list was deleted: on a terminal, take it off the screen too when it
  // is the last thing printed, so that its replacement takes its place.
  void unprintListLine(int controlId) {
    if (!outputTerminal || lastLineControl != controlId) return;
    beginOutput();
    for (int row = 0; row < lastLineRows; ++row) pending += "\x1b[1A\r\x1b[2K";
    lastLineControl = -1;
    // The progress line comes back below the replacement that follows at once (or with
    // the next tick), not in the emptied row.
    flush();
  }

  void forgetLastLine() { lastLineControl = -1; }

  // The question of askQuestion while it is open.
  struct OpenQuestion {
    bool open = false;
    std::function<void(MessageBoxAnswer)> answered;
    std::unique_ptr<platform::RawKeys> keys;
  } question;

  // A request to end came and was not taken yet.
  bool terminationPending() const {
    return platform::pendingRequests(platform::Request::Termination) > 0;
  }
  // Takes the requests to end: true when one came; a second one since the outermost dialog
  // started ends the program (after the dialogs wrote what must not be lost).
  bool takeTermination() {
    const int taken = platform::takeAllRequests(platform::Request::Termination);
    if (taken == 0) return false;
    terminationsTaken += taken;
    if (terminationsTaken >= 2 && options.catchTermination) endProgram();
    return true;
  }
  // Reads one key without waiting: the answer it gives, if any. False while no key answers;
  // `gone` tells that the input has ended or failed.
  bool readAnswer(bool question, MessageBoxAnswer& answer, bool& gone);

  std::string printBoxText(const std::string& text, MessageBoxKind kind);
  MessageBoxAnswer askUser(const std::string& text, MessageBoxKind kind);
  void openQuestion(const std::string& text, std::function<void(MessageBoxAnswer)> answered);
  // Ends the open question: answered (its function called) or, with nullptr, withdrawn.
  void closeQuestion(const MessageBoxAnswer* answer);
  // Reads the open question's answer if a key is there. True when it was answered.
  bool serveQuestion();
  MessageBoxAnswer waitForKey(MessageBoxKind kind);

  bool dispatchOne();
  void deliverInterrupt(ConsoleWindow& window);
  void deliverTermination(ConsoleWindow& window);
  // A second request to end: every dialog hears of it, innermost first; then the program
  // ends by the signal, with the output written and the terminal as it was.
  [[noreturn]] void endProgram();
  void tick(ConsoleWindow& window);
  // The progress line's parts from the window's bars and texts, the moved bytes sampled
  // first when `sample`.
  ProgressLine progressLineOf(ConsoleWindow& window, bool sample);
  void drawProgress(ConsoleWindow& window, bool sample);
  // The transfer bar has reached its end: its progress line is shown at once whether a timer
  // runs or not, on a terminal as a line of its own that stays above what follows (the run's
  // last box), as a plain line without regard to how recently the last one came.
  void showProgressEnd(ConsoleWindow& window);

  // The plain progress line of progressLines: when it changed, or after a second of program
  // time, so that a reader can tell a quiet wait from a hung run; never more often than a
  // reader needs it (in real time: a fast clock would flood the pipe).
  std::string plainProgress;
  uint64_t plainProgressMicros = 0;
  std::chrono::steady_clock::time_point plainProgressShown;
  void printProgressLine(const ProgressLine& line, bool always = false);
};

}  // namespace ui
