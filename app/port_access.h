// The hint for a user whom no serial port lets in: on Linux a serial port is open to the
// members of the dialout group, and a port without access shows as "(access denied)".
#pragma once

#include <string>
#include <vector>

#include "app/port_list.h"

inline constexpr const char* kPortAccessHint =
    "Every port found is in use or not accessible to this user. Serial ports are open to the\n"
    "members of the dialout group: sudo usermod -aG dialout $USER, then log in again.\n";

// True when the list has entries and each of them is marked "(access denied)".
bool everyPortDenied(const std::vector<PortListEntry>& entries);

// Why this user cannot open a local serial device now, as one phrase: "permission denied:
// you are not in group dialout (sudo usermod -aG dialout $USER, then log in again)" (only
// where the node's group is dialout and the user is not in it), "permission denied: owned
// by root:root, mode 0600", "in use by process 1234 (minicom)", "no such device". Empty
// when nothing stands in the way, and for ports that are not device paths (network,
// simulated).
std::string portAccessProblem(const std::string& device);
// The phrase of a user outside the dialout group, as portAccessProblem begins it.
inline constexpr const char* kNotInDialout = "permission denied: you are not in group dialout";
