// What the program needs of the simulated instrument behind a "sim:" port: its place among
// the serial backends, the program clock its "speed" option asks for, and the sample update
// set that it can be updated with.
#pragma once

#include <string>

// Registers the simulated instrument with the factory of serial devices, so that port names
// beginning with "sim:" open its line. The program's entry point calls it once at start,
// as test programs and benchmarks do.
void installSimulatorBackend();

// Installs the program clock for the device of a port, once, before the port is first
// opened: a simulated instrument runs on the clock of its "speed" option (virtual, real,
// or N times real time); any other device leaves the real clock in place. Empty on
// success, else the message for the user (the simulated instrument's options are not
// valid), and nothing is installed.
std::string installClockForDevice(const std::string& deviceName);

// Writes the sample update set (bootstrap loader, transfer program, firmware and DSP
// images) into an existing folder. 0 when every file was written, 1 otherwise.
int writeSampleUpdateSet(const std::string& folder);
