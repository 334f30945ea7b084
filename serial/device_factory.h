// Chooses the serial device for a port name: "sim:..." is the line to a simulated
// instrument, anything else a termios device path.
#pragma once

#include <memory>
#include <string>

#include "platform/serial_device.h"

std::unique_ptr<platform::SerialDevice> createSerialDevice(const std::string& deviceName);
platform::ProbeResult probeSerialDevice(const std::string& deviceName);
