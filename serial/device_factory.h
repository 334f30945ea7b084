// Chooses the serial device for a port name: a name that begins with a registered prefix
// goes to the backend registered for it (the simulated instrument registers "sim:"),
// "rfc2217://HOST:PORT" is a serial port of a terminal server, anything else a termios
// device path.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "serial/serial_device.h"

std::unique_ptr<platform::SerialDevice> createSerialDevice(const std::string& deviceName);
platform::ProbeResult probeSerialDevice(const std::string& deviceName);

// Backends above this layer (the simulated instrument, tests' scripted devices under "fake:")
// register themselves here: names that begin with the prefix get their devices and probe
// results from these functions. Registering a prefix
// again replaces its functions; an empty create function removes the prefix.
using SerialDeviceCreator =
    std::function<std::unique_ptr<platform::SerialDevice>(const std::string& deviceName)>;
using SerialDeviceProber = std::function<platform::ProbeResult(const std::string& deviceName)>;
void registerSerialDeviceFactory(const std::string& prefix, SerialDeviceCreator create,
                                 SerialDeviceProber probe);
