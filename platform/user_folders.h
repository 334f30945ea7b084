// Where the user's own files of the program live: the settings file and the history of
// service records. Linux: the XDG folders; Windows: the user's local application data.
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

}  // namespace platform
