// The hint for a user whom no serial port lets in: on Linux a serial port is open to the
// members of the dialout group, and a port without access shows as "(access denied)".
#pragma once

#include <string>
#include <vector>

#include "app/port_list.h"
#include "serial/device_factory.h"

inline constexpr const char* kPortAccessHint =
    "Every port found is in use or not accessible to this user. Serial ports are open to the\n"
    "members of the dialout group: sudo usermod -aG dialout $USER, then log in again.\n";

// True when the list has entries and each of them is marked "(access denied)".
bool everyPortDenied(const std::vector<PortListEntry>& entries);

// Why this user cannot open the port now, as one phrase its serial backend gives (see
// explainSerialAccess, which also names kNotInDialout). Empty when nothing stands in the
// way, and for ports that are not device paths (network, simulated).
std::string portAccessProblem(const std::string& device);
