// The desktop window: the dialog toolkit's host on Qt 6 Widgets.
//
// This header keeps Qt out of its includers, so that the program's entry point can choose
// the desktop host without knowing Qt.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "ui/dialog_host.h"

namespace ui::qt {

// The command id of the Help button, handled by the host itself: it opens the help.
using ui::kIdHelp;

// True when a window can be shown: a display server is named (DISPLAY, WAYLAND_DISPLAY) or
// a Qt platform is chosen explicitly (QT_QPA_PLATFORM, e.g. offscreen).
bool displayAvailable();

// The host. The Qt application object is created on first use when the program has none;
// call it only when displayAvailable() is true.
std::unique_ptr<DialogHost> createDialogHost(ProgressSource progress = {});

// Where the help is: the user's manual compiled into the program, as a Qt resource path
// (":/help/manual.md"). Empty when the program was built without it.
std::string helpFilePath();
// The address the Help button opens for a dialog: the manual at the section about that
// dialog's window ("qrc:/help/manual.md#the-configuration-dialog"); empty without a manual.
std::string helpUrlFor(const DialogTemplate& dialog);

// Replaces the way a help address is opened (tests); an empty function restores the
// program's own viewer (the manual rendered in a window of its own). The function returns
// false when it could not open it.
void setHelpOpener(std::function<bool(const std::string& url)> opener);

}  // namespace ui::qt
