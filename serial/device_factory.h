// Chooses the serial device for a port name: a name that begins with a registered prefix
// goes to the backend registered for it (the simulated instrument registers "sim:"),
// "rfc2217://HOST:PORT" is a serial port of a terminal server, anything else a local port of
// this computer (a device path such as /dev/ttyUSB0 on Linux, a COM port on Windows).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "serial/serial_device.h"

std::unique_ptr<serial::SerialDevice> createSerialDevice(const std::string& deviceName);
// `failure`, where given, gets the backend's cause of a port that is not free (see
// serial::PortFailure; None where the backend cannot tell).
serial::ProbeResult probeSerialDevice(const std::string& deviceName,
                                      serial::PortFailure* failure = nullptr);
// Why this user cannot open the port now, as one phrase that its backend works out: for a
// local device "permission denied: you are not in group dialout (sudo usermod -aG dialout
// $USER, then log in again)" (only where the node's group is dialout and the user is not in
// it), "permission denied: owned by root:root, mode 0600", "in use by process 1234
// (minicom)", "no such device". Empty when nothing stands in the way, and for ports whose
// backend has nothing to explain before it is opened (network, simulated).
std::string explainSerialAccess(const std::string& deviceName);
// The phrase of a user outside the dialout group, as explainSerialAccess begins it.
inline constexpr const char* kNotInDialout = "permission denied: you are not in group dialout";

// Backends above this layer (the simulated instrument, tests' scripted devices under "fake:")
// register themselves here: names that begin with the prefix get their devices and probe
// results from these functions. Registering a prefix
// again replaces its functions; an empty create function removes the prefix.
using SerialDeviceCreator =
    std::function<std::unique_ptr<serial::SerialDevice>(const std::string& deviceName)>;
using SerialDeviceProber = std::function<serial::ProbeResult(const std::string& deviceName)>;
void registerSerialDeviceFactory(const std::string& prefix, SerialDeviceCreator create,
                                 SerialDeviceProber probe);
