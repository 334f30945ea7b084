// The dialog toolkit: the interface through which a dialog object acts on its window, and
// through which a host delivers the window's events to the dialog object.
//
// A dialog object (the main dialog, the configuration dialog, the About box) describes its
// window by a template and handles events by control id. It never knows which host runs
// it: the desktop window (Qt), the console, or the tests' scripted host. Every operation
// addresses a control by its id; an id that the template does not have is ignored (getters
// return empty, 0, false or -1).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "ui/dialog_template.h"

namespace ui {

enum class MessageBoxKind : uint8_t {
  Stop,         // stop icon, OK: errors and instructions that must be followed
  Information,  // information icon, OK: outcomes
  Question,     // no icon, Yes and No
};
enum class MessageBoxAnswer : uint8_t { Ok, Yes, No };

// DropDown: a combo box's list is about to open, before the user sees its entries (the
// dialog may fill it again).
enum class Notification : uint8_t { Clicked, SelectionChanged, DropDown };

// System commands that a host delivers to Dialog::onSystemCommand.
inline constexpr int kSysCommandClose = 0xF060;  // title bar close button, Alt+F4
// The program was asked to end (SIGTERM, SIGHUP): a running operation is to stop at its
// next pump and the dialog to end after it. Unhandled, it takes the course of Close.
inline constexpr int kSysCommandTerminate = 0xF0A0;
// A second request to end the program: it ends when the handler returns, wherever the
// program is. The dialog writes at once what must not be lost (the record of a run).
inline constexpr int kSysCommandTerminateNow = 0xF0B0;

class Dialog;

// One running dialog window, as its dialog object sees it.
class DialogWindow {
 public:
  virtual ~DialogWindow() = default;

  // --- any control ---
  virtual void setText(int id, const std::string& text) = 0;
  virtual std::string text(int id) const = 0;
  virtual void enable(int id, bool enabled) = 0;
  virtual bool isEnabled(int id) const = 0;
  virtual void show(int id, bool visible) = 0;
  virtual bool isVisible(int id) const = 0;

  // --- radio buttons and check boxes ---
  // Checking a radio button does not uncheck the others of its group (the dialog object
  // does that through checkRadioButton, as the user's click does by itself).
  virtual void setCheck(int id, bool checked) = 0;
  virtual bool isChecked(int id) const = 0;
  // Checks `id` and unchecks every other button from `firstId` to `lastId`.
  void checkRadioButton(int firstId, int lastId, int id);

  // --- list box ---
  virtual void listReset(int id) = 0;
  // Appends (or, in a sorted list, inserts in text order) and returns the item's index.
  virtual int listAdd(int id, const std::string& text) = 0;
  virtual int listCount(int id) const = 0;
  virtual std::string listText(int id, int index) const = 0;
  virtual void listDelete(int id, int index) = 0;
  virtual void listSetTopIndex(int id, int index) = 0;
  virtual int listTopIndex(int id) const = 0;
  // -1 selects nothing.
  virtual void listSetSelection(int id, int index) = 0;
  virtual int listSelection(int id) const = 0;

  // --- combo box (drop-down list) ---
  virtual void comboReset(int id) = 0;
  // Adds (sorted combos insert in plain character order) and returns the item's index.
  virtual int comboAdd(int id, const std::string& text) = 0;
  virtual int comboCount(int id) const = 0;
  virtual std::string comboText(int id, int index) const = 0;
  virtual void comboSetItemData(int id, int index, int64_t data) = 0;
  virtual int64_t comboItemData(int id, int index) const = 0;
  // -1 selects nothing. Setting the selection does not notify the dialog.
  virtual void comboSetSelection(int id, int index) = 0;
  virtual int comboSelection(int id) const = 0;

  // --- progress bar ---
  virtual void progressSetRange(int id, int low, int high) = 0;
  virtual void progressSetPos(int id, int pos) = 0;
  virtual int progressPos(int id) const = 0;

  // --- window ---
  // Starts (or restarts) a timer: Dialog::onTimer(timerId) every periodMs while the host
  // serves events (its event loop, or pumpMessages in the middle of a long operation).
  virtual void setTimer(int timerId, uint32_t periodMs) = 0;
  virtual void killTimer(int timerId) = 0;
  // A modal message box; returns the user's answer (Ok for the two looks with OK only).
  // Dialog objects call ui::messageBox (message_box.h) instead, so that observers see it.
  virtual MessageBoxAnswer showMessageBox(const std::string& text, const std::string& caption,
                                          MessageBoxKind kind) = 0;
  // A question that does not hold up its caller: it is shown at once, and its answer comes
  // later as an event (through the event loop or a message pump), so that a long operation
  // in progress goes on while the user reads. Its default button is No. The answer is
  // delivered to `answered` at most once; a withdrawn question is never answered. This
  // default shows the modal box and answers at once.
  virtual void askQuestion(const std::string& text, const std::string& caption,
                           std::function<void(MessageBoxAnswer)> answered) {
    answered(showMessageBox(text, caption, MessageBoxKind::Question));
  }
  // Takes an open question of askQuestion away unanswered; nothing when none is open.
  virtual void withdrawQuestion() {}
  // Runs another dialog modally, owned by this window; returns its end code.
  virtual int runModal(Dialog& dialog) = 0;
  // Ends this dialog's modal run with the code; the window is destroyed when the handler
  // that called it returns.
  virtual void endDialog(int result) = 0;
  // Paints the window now (the caller is in a long operation and does not return to the
  // event loop).
  virtual void repaint() = 0;
  // Dispatches the events that are pending (clicks, timer ticks) and returns at once.
  // True when at least one was dispatched.
  virtual bool pumpMessages() = 0;
  // Appends a separator and an entry to the system menu; Dialog::onSystemCommand receives
  // `command` when the user picks it.
  virtual void appendSystemMenuItem(int command, const std::string& text) = 0;
  // Removes the system menu's Close entry (the title bar close button then does nothing).
  virtual void removeSystemMenuClose() = 0;
};

// A dialog object: the handlers of one dialog's events. The host sets m_window before
// onInitDialog and clears it after onDestroy.
class Dialog {
 public:
  virtual ~Dialog() = default;
  virtual const DialogTemplate& dialogTemplate() const = 0;

  // The window and its controls exist, before it is shown.
  virtual void onInitDialog() {}
  // A control other than OK (1) and Cancel (2) was clicked, changed its selection or is
  // about to open its list.
  virtual void onCommand(int /*controlId*/, Notification /*notification*/) {}
  // A device came or went (the system tells the window where it can: Windows, when a port
  // is plugged in or removed).
  virtual void onDevicesChanged() {}
  virtual void onTimer(int /*timerId*/) {}
  // OK (id 1, or Enter when OK is the default button): the standard OK ends with kIdOk.
  virtual void onOk() { m_window->endDialog(kIdOk); }
  // Cancel (id 2, the Escape key): the standard cancel ends with kIdCancel.
  virtual void onCancel() { m_window->endDialog(kIdCancel); }
  // A system menu command (kSysCommandClose, or an entry of appendSystemMenuItem). Returns
  // true when handled; false lets it take its usual course (Close ends the dialog).
  virtual bool onSystemCommand(int /*command*/) { return false; }
  // The window is being destroyed, however the dialog ended.
  virtual void onDestroy() {}

  DialogWindow* m_window = nullptr;
};

// What the numbers line under a progress bar of a desktop window measures, as the console's
// progress line does: the bar whose percent it shows (-1: none) and the bytes moved so far
// (empty: no rate).
struct ProgressSource {
  int transferBarId = -1;
  std::function<uint64_t()> transferredBytes;
};

// A front end that runs dialogs: builds the window from the template, calls onInitDialog,
// shows it, routes events until endDialog, calls onDestroy and returns the end code. While a
// dialog runs, the host installs its pumpMessages as the program's message pump hook
// (platform/message_pump.h), so that the engine's waits serve the window.
class DialogHost {
 public:
  virtual ~DialogHost() = default;
  virtual int runModal(Dialog& dialog) = 0;
};

}  // namespace ui
