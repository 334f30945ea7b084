// What the Windows files of the platform share among themselves (never included above
// platform/win32/): the event through which a request wakes the waits, the console modes to
// put back when the program ends.
#pragma once

#include <windows.h>

#include <string>

namespace platform::win32 {

// A manual-reset event, set once a request came since the last drain.
HANDLE wakeEvent();
// Makes the waits return (safe in the console control handler's thread).
void wake();
// Clears the wake event; a wait calls it when it was woken.
void drainWake();

// The mode a console handle had before the program changed it (its raw keys or its
// virtual-terminal output): put back by restoreConsole, at the program's end too. False
// when a mode is kept for that handle already (the first is the one to put back).
bool setConsoleToRestore(HANDLE console, DWORD mode);
void forgetConsoleToRestore(HANDLE console);
// The console's output code page before the program set it (0: it was not changed), put
// back by restoreConsole too.
void setCodePageToRestore(UINT codePage);
void restoreConsole();

// Texts inside the program are UTF-8; Windows' own calls take UTF-16.
std::wstring widen(const std::string& text);
std::string narrow(const std::wstring& text);
// The system's message for an error code, without its closing full stop.
std::string errorText(DWORD error);

// The system handle behind a C library file descriptor; INVALID_HANDLE_VALUE when none.
HANDLE handleOf(int fd);

}  // namespace platform::win32
