// The simulated instruments of the program, the program clock they run on, and the
// operator in front of them.
//
// One instrument exists per distinct port name ("sim:hw=0x11000" and "sim:" are two
// instruments) for the life of the program, so that it keeps its state (mode, serial
// settings, flash) when the port is closed and opened again.
//
// Clock: the simulation follows platform::clock(). The caller chooses the clock from the
// "speed" option before the first port is opened, e.g.
//     sim::Options options;
//     if (sim::parseOptions(portName, options).empty()) sim::installClockFor(options);
// speed=virtual installs a VirtualClock (a whole update in well under a second), speed=real
// a SteadyClock, speed=N a SteadyClock running N times faster than real time.
#pragma once

#include <memory>
#include <string>

#include "sim/instrument.h"
#include "sim/options.h"

namespace sim {

// The instrument behind a port name; nullptr when the options in the name are not valid
// (checkPortName() tells why).
std::shared_ptr<Instrument> instrumentFor(const std::string& portName);
// Empty when the port name's options are valid and its state folder (created when missing)
// can be written, else the message for the user.
std::string checkPortName(const std::string& portName);
// Why a state folder cannot keep an instrument (not a folder, cannot be created or written);
// empty when it can. Creates it when missing.
std::string stateFolderProblem(const std::string& folder);
// Forgets every instrument (tests): the next use of a name starts a fresh one at power-on.
void resetInstruments();

// The instrument whose line was opened last: the one the operator stands in front of.
// nullptr before any was opened.
std::shared_ptr<Instrument> lastOpenedInstrument();
// The simulated operator acknowledges a message box: the front-panel steps it asks for
// are carried out on the instrument opened last, or before any was opened on the only one
// there is (see Instrument::operatorAcknowledged).
// False when there is no such instrument or the box asks for nothing.
bool operatorAcknowledged(const std::string& messageBoxText);

// Installs the program clock that the speed option asks for and keeps it alive until the
// next call or uninstallClock().
void installClockFor(const Options& options);
// The same from a port name; returns the options' error message (and installs nothing)
// when they are not valid.
std::string installClockFor(const std::string& portName);
// Puts the program back on the steady clock.
void uninstallClock();

}  // namespace sim
