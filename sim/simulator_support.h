// What the front ends need of the simulated instrument behind a "sim:" port, without
// including the simulator themselves: the program clock its "speed" option asks for, and
// the sample update set that it can be updated with.
#pragma once

#include <string>

// Installs the program clock for the device of a port, once, before the port is first
// opened: a simulated instrument runs on the clock of its "speed" option (virtual, real,
// or N times real time); any other device leaves the real clock in place. Empty on
// success, else the message for the user (the simulated instrument's options are not
// valid), and nothing is installed.
std::string installClockForDevice(const std::string& deviceName);

// Writes the sample update set (bootstrap loader, transfer program, firmware and DSP
// images) into an existing folder. 0 when every file was written, 1 otherwise.
int writeSampleUpdateSet(const std::string& folder);
