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
// Maps a number to a device for the rest of the program; an empty name removes the mapping.
void setComPortDevice(int portNo, const std::string& device);
// Reads the PORTS section of a settings file into the mapping.
void loadComPortMapping(const std::string& settingsFile);

}  // namespace platform
