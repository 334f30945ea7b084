// Where the user's own files of the program live: the settings file and the history of
// service records. Linux: the XDG folders; Windows: the user's local application data.
// And where the window keeps its update set when it was started in the program's own folder.
#pragma once

#include <string>

namespace platform {

// The folder of the user's settings file: $XDG_CONFIG_HOME/zelupdate (an absolute one), else
// ~/.config/zelupdate; %LOCALAPPDATA%\zelupdate on Windows. Empty when there is no home.
std::string userConfigFolder();
// The folder of the history: $XDG_STATE_HOME/zelupdate (an absolute one), else
// ~/.local/state/zelupdate (/tmp/.local/state/zelupdate without a home);
// %LOCALAPPDATA%\zelupdate on Windows.
std::string userStateFolder();
// The update set folder of a window that was started in the program's own folder, which
// holds no update set (the Start menu's entry on Windows, whose working folder is the
// installation folder, where a standard user may not write): the user's Documents folder
// (the known folder, redirected ones included) with "\zelupdate" appended. Empty on Linux,
// where the window stays in the folder it was started in, and when there is no such folder.
std::string userUpdateSetFolder();

}  // namespace platform
