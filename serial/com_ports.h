// COM port numbers on Linux: COM1-COM4 are /dev/ttyS0-3, COM5-COM12 /dev/ttyUSB0-7,
// COM13-COM15 /dev/ttyACM0-2, unless the PORTS section of the settings file (or the
// program itself) maps a number to another device ("COM7=/dev/ttyUSB3",
// "COM15=sim:hw=0x11000").
#pragma once

#include <string>

namespace platform {

inline constexpr int kMaxComPort = 15;

// The device behind a COM number; empty for a number without one.
std::string comPortDevice(int portNo);
// Maps a number (1 to 255) to a device for the rest of the program; an empty name removes
// the mapping, so that the number has no device (not even its default one).
void setComPortDevice(int portNo, const std::string& device);
// Forgets every mapping made by setComPortDevice or a settings file: the defaults again.
void resetComPortMapping();
// Reads the PORTS section of a settings file into the mapping: keys "COM1" to "COM255"
// (any case), each with a device path or a "sim:" name; an empty value hides the number.
// Other keys are ignored. Entries not in the file keep their mapping.
void loadComPortMapping(const std::string& settingsFile);

// A port name or device path as a message shows it: control characters (and DEL) as
// "\x01", so that a name cannot move the cursor or recolour the terminal.
std::string printablePortName(const std::string& name);

}  // namespace platform
