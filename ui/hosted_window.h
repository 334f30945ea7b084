// One dialog window of a desktop host, as far as it does not depend on what draws it: which
// handler of the dialog object an event of the window reaches, the order of a modal run,
// when the progress numbers are written, and the entries of the main window's system menu.
// The Qt and the Windows window derive from it and add their toolkit's calls alone.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ui/dialog_host.h"
#include "ui/host_runtime.h"

namespace ui {

class HostedWindow : public DialogWindow {
 public:
  HostedWindow(Dialog& dialog, HostRuntime& runtime, ProgressSource progress);

  // True while user input to the controls other than push buttons is held back: the dialog
  // is in a long operation that serves only the timer, painting and buttons.
  bool inputHeldBack() const;
  int templateId() const { return m_template.id; }

  // Delivers a timer tick to the dialog (the host's timer service calls it).
  void deliverTimer(int timerId);
  // Writes the run's progress numbers into the numbers line, when the template has one;
  // `sample` takes the moved bytes into the rate (at a timer tick). Paints the line now
  // when `paintNow` (a bounded wait's try, between the pumps).
  void showProgressNumbers(bool sample, bool paintNow);
  // Delivers the request to end the program (the host's request service calls it): the
  // dialog's kSysCommandTerminate, or its cancel when it does not handle that.
  void deliverTermination();
  // The program ends when this returns (a second request): the dialog's
  // kSysCommandTerminateNow, delivered even to a window that has ended but not yet gone.
  void deliverEnd();

  // --- DialogWindow: what every desktop host does alike ---
  void setTimer(int timerId, uint32_t periodMs) override;
  void killTimer(int timerId) override;
  void endDialog(int result) override;
  void appendSystemMenuItem(int command, const std::string& text) override;

 protected:
  struct MenuEntry {
    int command;
    std::string text;
  };

  // The steps of a modal run, in this order: begin (the window counts as running), the
  // dialog's initialisation once the toolkit's window exists, the toolkit's loop until
  // endDialog, end (the dialog's onDestroy).
  void beginRun();
  void initialiseDialog();
  void endRun();

  // Runs a handler of the dialog while the window runs and has not ended; counts it as a
  // dispatched event.
  void deliver(const std::function<void()>& handler);
  // A control's notification: OK and Cancel reach the dialog's onOk and onCancel, Help
  // opens the help, every other one the dialog's onCommand.
  void route(int id, Notification notification);
  // A command of the system menu or the title bar; an unhandled Close takes its usual
  // course, the dialog's cancel.
  void routeSystemCommand(int command);
  // A progress bar was set from `before` to `value` of low..high: an empty transfer bar (the
  // run has ended, or a new transfer begins) takes the numbers of the last transfer with it;
  // a full one (the run succeeded) shows them at once, since the run stops its timer before
  // its last box.
  void progressMoved(int id, int before, int value, int low, int high);
  // The answer of a box that is not shown: the program was asked to end, so nobody may be
  // left to read it and the run must come to its end. An open question is withdrawn first:
  // a box of its own supersedes it.
  std::optional<MessageBoxAnswer> answerWithoutBox(MessageBoxKind kind);

  // A window with entries of its own in the system menu: the program's main window. Only it
  // offers the service history and the update set folder beside them, and says once, when it
  // has appeared, why the update set folder wanted could not be used.
  bool hasMenuEntries() const { return !m_menuEntries.empty(); }
  bool offersHistory() const;
  bool offersUpdateSetFolder() const;
  bool saysUpdateSetFolderProblem() const;

  // --- the toolkit's part ---
  virtual void openHelp() = 0;
  // Wakes the window's loop after endDialog.
  virtual void wakeLoop() = 0;
  // The range of a progress bar; false when the template has no such bar.
  virtual bool progressRange(int id, int& low, int& high) const = 0;
  // True when the template has the control and its window exists.
  virtual bool hasControl(int id) const = 0;
  // Paints a control now, not at the next paint.
  virtual void paintNow(int id) = 0;
  // The numbers line's text: the meter of the run's transfer with `percent` of the bar (-1:
  // none), the moved bytes taken into it when `sample`.
  virtual std::string progressNumbersText(bool sample, int percent) = 0;

  Dialog& m_dialog;
  const DialogTemplate& m_template;
  HostRuntime& m_runtime;
  // The progress bar whose percent the numbers line shows, and the bytes it measures.
  ProgressSource m_progress;
  std::vector<MenuEntry> m_menuEntries;
  bool m_running = false;
  bool m_ended = false;
  int m_result = kIdCancel;
  // The host's pump depth when this window started: input is held back only in pumps
  // entered after that, while this window waits beneath a long operation.
  int m_pumpDepthAtStart = 0;
};

// Where a sorted list puts a new text: after every entry that is not greater, in plain
// character order.
template <typename TextAt>
int sortedPosition(int count, const std::string& text, TextAt textAt) {
  int low = 0;
  int high = count;
  while (low < high) {
    const int mid = (low + high) / 2;
    if (textAt(mid) <= text) {
      low = mid + 1;
    } else {
      high = mid;
    }
  }
  return low;
}

}  // namespace ui
