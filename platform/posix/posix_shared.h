// What the POSIX files of the platform share among themselves (never included above
// platform/posix/): the pipe through which a request wakes the waits, and the terminal
// settings to put back when the program ends on a request.
#pragma once

struct termios;

namespace platform::posix {

// The read end of the wake pipe: readable once a request came since the last drain.
int wakeFd();
// Makes the waits return (safe in a signal handler once wakeFd() has been called).
void wake();
// Empties the wake pipe; a wait calls it when it was woken.
void drainWake();

// The settings that fd had before the program changed them (nullptr: nothing to restore).
void setTerminalToRestore(int fd, const termios* settings);
// Whether settings are kept to be put back.
bool terminalToRestore();
// Puts them back; safe in a signal handler.
void restoreTerminal();

}  // namespace platform::posix
