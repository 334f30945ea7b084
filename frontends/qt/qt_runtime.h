// What the windows of the desktop host share: the timer service on the program's clock,
// the message pump, the input guard of long operations, the help viewer and the icon.
#pragma once

#include <QIcon>
#include <cstdint>
#include <string>

#include "ui/host_runtime.h"

namespace ui::qt {

class QtDialogWindow;

namespace runtime {

// The state of the host's windows, with the toolkit's parts installed.
HostRuntime& host();

// Dispatches the pending events, the due timers and the requests to end once (see
// HostRuntime::pump).
bool pump();

// Opens a help address with the opener that setHelpOpener installed; false when it could
// not. Without one the windows show the help themselves.
bool openHelp(const std::string& url);
bool helpOpenerInstalled();

// The application icon, drawn for the sizes a desktop asks for.
QIcon applicationIcon();

}  // namespace runtime
}  // namespace ui::qt
