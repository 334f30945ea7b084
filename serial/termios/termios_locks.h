// The locks by which other programs hold a local port, as the termios backend looks for
// them (the folders of UUCP lock files are set in termios_device.h).
#pragma once

#include <string>

namespace serial {

// True when a live process holds a UUCP lock file for the device (LCK..ttyS0 for
// /dev/ttyS0 and for a link to it; LCK..pts_3 style names for devices in sub-folders of /dev).
bool uucpLockHeld(const std::string& path);

}  // namespace serial
