// The desktop window on Windows: the dialog toolkit's host on the system's own dialogs,
// built in memory from the same templates as the other hosts.
//
// This header keeps the system's headers out of its includers.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "ui/dialog_host.h"

namespace ui::win32 {

// The command id of the Help button, handled by the host itself: it opens the help.
using ui::kIdHelp;

std::unique_ptr<DialogHost> createDialogHost(ProgressSource progress = {});

// The address the Help button opens for a dialog: the manual beside the program
// (manual.html) at the section about that dialog's window
// ("file:///C:/Program%20Files/zelupdate/manual.html#the-configuration-dialog"); empty when
// the program has no manual beside it.
std::string helpUrlFor(const DialogTemplate& dialog);

// Replaces the user's browser as the way a help address is opened (tests); an empty function
// restores it. The function returns false when it could not open it: the manual's text is
// shown in a window of the program then.
void setHelpOpener(std::function<bool(const std::string& url)> opener);

// A program started from the Start menu or the Explorer gets a console window of its own,
// which only stands in the way of the window: it is let go. A console that the program
// shares with a command prompt stays.
void releaseOwnConsole();

// zelupdatew.exe has no console: from here on, what the program writes to standard output and
// standard error is shown in message boxes as it comes (standard error's with the stop sign),
// one box per message. False when that could not be set up.
bool showOutputInMessageBoxes();
// Ends that: every text written so far is shown, and this returns when its box is answered.
void finishOutputMessageBoxes();
// Replaces the message box as the way the texts are shown (tests); called from another thread.
// An empty function restores the message box.
using OutputBoxShower = std::function<void(const std::string& text, bool error)>;
void setOutputBoxShower(OutputBoxShower show);

}  // namespace ui::win32
