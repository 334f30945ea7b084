// What the windows of the desktop host share: the timer service on the program's clock,
// the message pump, the input guard of long operations, the help viewer and the icon.
#pragma once

#include <QIcon>
#include <cstdint>
#include <string>

namespace ui::qt {

class QtDialogWindow;

namespace runtime {

// A window starts or ends its modal run: the first installs the program's message pump
// hook and the input guard, the last removes them. Ending also kills the window's timers.
void windowStarted(QtDialogWindow* window);
void windowEnded(QtDialogWindow* window);

// Timers run on platform::clock(), so that on the virtual clock they fire by virtual time.
// A tick that is overdue fires once; the next is due a period after it.
void setTimer(QtDialogWindow* window, int timerId, uint32_t periodMs);
void killTimer(QtDialogWindow* window, int timerId);
// Fires the timers that are due. True when one fired.
bool serveDueTimers();

// Dispatches the pending events and the due timers once. True when a handler of a dialog
// ran; false after a bounded number of rounds in a row, so that a caller that pumps until
// nothing is pending always comes back.
bool pump();
// How many pumps are running on the call stack.
int pumpDepth();
// The program was asked to end (SIGTERM, SIGHUP): boxes no longer wait for a user.
bool terminationRequested();
// A handler of a dialog is about to run.
void countDispatch();

// Opens a help address with the opener that setHelpOpener installed; false when it could
// not. Without one the windows show the help themselves.
bool openHelp(const std::string& url);
bool helpOpenerInstalled();

// The application icon, drawn for the sizes a desktop asks for.
QIcon applicationIcon();

}  // namespace runtime
}  // namespace ui::qt
