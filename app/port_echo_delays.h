// What the port of a run adds to each byte the target sends while the target waits for the
// host's echo of it, for the dry run's estimate.
#pragma once

#include <string>

#include "app/update_plan.h"
#include "serial/serial_device.h"

// The delays of the port `device` names ("/dev/ttyUSB0", "COM5", "rfc2217://...", "sim:...")
// with `open` its open device (null: none). The open device tells what it knows (the
// simulated adapter's latency, the network's round trip); a local adapter's latency timer is
// the one the serial inventory reads (sysfs on Linux, the device's parameters on Windows), as
// it stands while this program holds the port.
EchoDelays portEchoDelays(const std::string& device, const serial::SerialDevice* open);
