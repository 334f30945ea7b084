// The debug output channel that receives the trace records. Without a listener (no
// --trace option) the records are dropped, as on a debug channel that nobody watches.
#pragma once

#include <functional>
#include <string>

namespace platform {

// Hands one record (a complete line) to the channel.
void debugOutput(const char* text);

// Sends the records to a file ("-" = standard error); an empty name drops them.
// False when the file cannot be created.
bool setDebugOutputFile(const std::string& path);

// Sends the records to a function (tests); an empty function drops them.
void setDebugOutputSink(std::function<void(const char*)> sink);

}  // namespace platform
