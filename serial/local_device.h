// The local serial ports of this system, behind the factory of devices: Linux' termios
// devices (/dev/ttyS0, /dev/ttyUSB0, a pseudo-terminal), Windows' COM ports ("COM5").
// Each system has its own file in its backend's folder (serial/termios/local_device_posix.cpp,
// serial/win32/local_device_windows.cpp); the factory is the same on both.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "serial/serial_device.h"

std::unique_ptr<serial::SerialDevice> createLocalDevice(const std::string& name);
serial::ProbeResult probeLocalDevice(const std::string& name);
// Why this user cannot open the port now; empty when nothing stands in the way.
std::string explainLocalAccess(const std::string& name);
// The device a COM number stands for when the settings file maps it nowhere else; empty
// for a number that has none.
std::string defaultComDevice(int portNo);
// The COM numbers that the system itself gives to ports present now, ascending: on Windows
// its COMn (USB adapters are often numbered above 15, up to 255). None on Linux, whose COM
// numbers are this program's own (defaultComDevice and the PORTS section).
std::vector<int> systemComNumbers();
