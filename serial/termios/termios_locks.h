// The locks by which other programs hold a local port, as the termios backend looks for
// them, and the folders in which it looks for UUCP lock files.
#pragma once

#include <string>
#include <vector>

namespace serial {

// True when a live process holds a UUCP lock file for the device (LCK..ttyS0 for
// /dev/ttyS0 and for a link to it; LCK..pts_3 style names for devices in sub-folders of /dev).
bool uucpLockHeld(const std::string& path);

// The folders searched for UUCP lock files; an empty list restores the defaults
// (/var/lock, /run/lock). Lets a test use a lock folder of its own.
void setUucpLockFolders(std::vector<std::string> folders);

}  // namespace serial
