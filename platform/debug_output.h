// The debug output channel that receives the trace records. Without a listener (no
// --trace option) the records are dropped, as on a debug channel that nobody watches.
#pragma once

#include <functional>
#include <string>

namespace platform {

// Hands one record (a complete line) to the channel.
void debugOutput(const char* text);

// Sends the records to a file ("-" = standard error); an empty name drops them.
// False, with `why` when given, when the file cannot be opened for writing (see
// openOutputFile: a FIFO without a reader is refused at once).
bool setDebugOutputFile(const std::string& path, std::string* why = nullptr);
// Why a record could not be written to the file (also after it was closed by an empty
// name); empty while every record went out. Records after a failed one are dropped.
std::string debugOutputWriteError();

// Sends the records to a function (tests); an empty function drops them.
void setDebugOutputSink(std::function<void(const char*)> sink);

}  // namespace platform
