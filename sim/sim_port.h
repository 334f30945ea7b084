// Port names "sim:KEY=VALUE,...": the line to a simulated instrument. One instrument
// exists per distinct name for the life of the program, so that it keeps its state when
// the port is closed and opened again.
#pragma once

#include <memory>
#include <string>

#include "serial/serial_device.h"

namespace sim {

std::unique_ptr<serial::SerialDevice> createDevice(const std::string& deviceName);
serial::ProbeResult probe(const std::string& deviceName);

}  // namespace sim
