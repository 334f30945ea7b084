// The console front end: dialogs run without a window, on standard input and output.
//
// The host keeps every control's state as a window would. What a technician needs to
// follow goes to the output as it happens:
// - lines appended to a list box are printed at once; on a terminal, deleting the last
//   line and appending its replacement (a step marked OK or ERROR) redraws that line in
//   place, elsewhere the new line is simply printed;
// - message boxes print their text and take their answer from the terminal (Enter for OK,
//   y or n for a question), or at once: with assumeYes OK and Yes, without a terminal OK and
//   No (a question guards work on the instrument that nobody confirmed);
// - while a timer runs, a terminal shows one progress line below the list, redrawn at each
//   tick from the controls the timer handler updates (busy bar, transfer bar, statistics
//   texts), with the transfer rate and the time left; nothing of it elsewhere.
// Ctrl-C clicks the control named as the interrupt (the Cancel button) at the next pump, or
// is the dialog's cancel command while that control is disabled; a Ctrl-C while a question
// is open answers Yes, one at an OK box answers it and then clicks. A question asked with
// askQuestion does not wait: its answer (y, or n or Enter for the default No) is read by
// the pump while the operation that asked it goes on.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/dialog_host.h"

namespace ui {

struct ConsoleOptions {
  int inputFd = 0;
  int outputFd = 1;
  // Boxes are answered at once (OK, Yes) instead of from the terminal.
  bool assumeYes = false;
  // The control that Ctrl-C clicks; -1: Ctrl-C is always the dialog's cancel command.
  int interruptControlId = -1;
  // Catch SIGINT while a dialog runs (restored afterwards).
  bool catchInterrupt = true;
  // Catch SIGTERM and SIGHUP while a dialog runs: the first is delivered to the dialog as
  // kSysCommandTerminate at the next pump (boxes are answered at once from then on); a
  // second restores the terminal, is delivered as kSysCommandTerminateNow at the next pump
  // (or the dialog's event loop) and then ends the program by its signal, within a few
  // seconds however busy the program is; a third ends it at once.
  bool catchTermination = true;
  // What the progress line shows: -1 leaves a part out.
  int busyBarId = -1;
  int transferBarId = -1;
  std::vector<int> statisticsIds;  // static texts, shown once not empty
  // Bytes moved so far (for the rate and the time left); empty: no rate shown.
  std::function<uint64_t()> transferredBytes;
  // Where the output is not a terminal: a plain line "progress PERCENT BYTES_PER_S
  // SECONDS_LEFT" (-1 for unknown) at a tick that changes it, and at least once a second of
  // program time while a timer runs, for a program that follows the run through a pipe.
  bool progressLines = false;
};

// The parts of one progress line.
struct ProgressLine {
  int busyPos = -1;            // 0..99, -1: no busy bar
  int percent = -1;            // 0..100, -1: no transfer bar
  double bytesPerSecond = -1;  // below 0: unknown
  int64_t secondsLeft = -1;    // below 0: unknown
  std::string statistics;      // already joined; empty: none
};

// The progress line's text, at most `width` characters (a longer one is cut).
std::string formatProgressLine(const ProgressLine& line, size_t width);

class ConsoleHost : public DialogHost {
 public:
  explicit ConsoleHost(ConsoleOptions options = {});
  ~ConsoleHost() override;
  ConsoleHost(const ConsoleHost&) = delete;
  ConsoleHost& operator=(const ConsoleHost&) = delete;

  int runModal(Dialog& dialog) override;

  // Queues work for the dialog that runs (or runs next): the event loop delivers it once
  // the initialisation or the handler before it has returned, never from inside a pump in
  // the middle of a long operation. A dialog whose queue is empty ends with its cancel
  // command, as there is nothing left that could happen in a console.
  void postCommand(int controlId);
  void post(std::function<void()> action);

  // Boxes are answered from the terminal.
  bool interactive() const;
  // The output is a terminal (in-place rewrites and the progress line).
  bool outputIsTerminal() const;

  // What Ctrl-C does, for callers that see an interrupt by other means.
  static void requestInterrupt();

  struct Impl;

 private:
  std::unique_ptr<Impl> m_impl;
};

}  // namespace ui
