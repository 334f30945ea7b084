// The hook through which long operations let the front end handle its pending events
// (button presses, the progress timer). A front end installs it; without one, nothing
// is dispatched.
#pragma once

#include <functional>

namespace platform {

// Installs the function that dispatches one pending event and returns true, or returns
// false when nothing is pending; an empty function removes the hook.
void setMessagePumpHook(std::function<bool()> hook);

// Dispatches one pending front-end event through the hook. False when none was pending
// or no hook is installed.
bool dispatchOneMessage();

}  // namespace platform
