// The program-wide run state: the status list in which every step of a run reports
// itself, the transfer statistics, the cancel flag and the name of the connected model.
// The port, the engine and the session write it; the front ends observe the list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Bytes written successfully to the serial port (every block, whatever it holds).
extern uint32_t bytesSent;
// Program-data chunks sent, chunks that needed a second send, repeated sends.
extern uint32_t packetCount;
extern uint32_t packetErrors;
extern uint32_t packetRetries;
// Set to 1 by the Cancel button; cleared only when a run starts.
extern int32_t cancelRequested;
// "device" until the instrument is identified, then "ZEL" or "LUM".
extern const char* deviceName;

inline constexpr const char* kDeviceNameUnknown = "device";
inline constexpr const char* kDeviceNameZel = "ZEL";
inline constexpr const char* kDeviceNameLum = "LUM";

// Receives every change of the status list, in order (a window, a console, a transcript).
class StatusListObserver {
 public:
  virtual ~StatusListObserver() = default;
  virtual void statusLineAdded(int index, const std::string& text) = 0;
  virtual void statusLineDeleted(int index) = 0;
  virtual void statusListCleared() = 0;
};

// Observers are told of changes in the order they were added; the caller keeps them alive
// until removed.
void addStatusListObserver(StatusListObserver* observer);
void removeStatusListObserver(StatusListObserver* observer);

// Appends a line and returns its index.
int addStatusLine(const std::string& text);
int statusLineCount();
// The text of a line; empty for an index outside the list.
std::string statusLineText(int index);
// Removes a line (the lines behind it move up); an index outside the list is ignored.
void deleteStatusLine(int index);
// Also marks the start of a run (runStartMicros, run_progress.h): a run begins with it.
void clearStatusList();
// All lines, first to last.
const std::vector<std::string>& statusLines();

// Resets what the start of a run resets: the list, the four counters and the cancel flag.
void resetRunState();
