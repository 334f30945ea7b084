// Chooses the serial device for a port name: "sim:..." is the line to a simulated
// instrument, "rfc2217://HOST:PORT" a serial port of a terminal server, anything else a
// termios device path.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "serial/serial_device.h"

std::unique_ptr<platform::SerialDevice> createSerialDevice(const std::string& deviceName);
platform::ProbeResult probeSerialDevice(const std::string& deviceName);

// Test hook: names that begin with the prefix get their devices and probe results from these
// functions instead of a backend (e.g. "fake:" for a scripted device). Registering a prefix
// again replaces its functions; an empty create function removes the prefix.
using SerialDeviceCreator =
    std::function<std::unique_ptr<platform::SerialDevice>(const std::string& deviceName)>;
using SerialDeviceProber = std::function<platform::ProbeResult(const std::string& deviceName)>;
void registerSerialDeviceFactory(const std::string& prefix, SerialDeviceCreator create,
                                 SerialDeviceProber probe);
