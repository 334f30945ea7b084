// The COM port list as the main dialog shows it (and `zelupdate ports` prints it).
#pragma once

#include <string>
#include <vector>

#include "serial/serial_device.h"

struct PortListEntry {
  std::string text;  // "COM%d", "COM%d (access denied)", in the report "COM%d (busy)" and so on
  int portNumber;
  std::string device;  // the device behind the number
  // What its probe found where the port cannot be used and its backend tells why (a
  // network port); None otherwise.
  serial::PortFailure failure = serial::PortFailure::None;
};

// Ports 1 to 15 that exist, and the ports the system has above 15 (Windows): free ones as "COM%d",
// ones in use as "COM%d (access denied)" except the session's own port while the session holds it
// open. Sorted by text in plain character order, as the dialog's sorted list shows them (COM10
// before COM2).
std::vector<PortListEntry> buildPortList(int sessionPortNumber, bool sessionPortOpen);
// The list as `zelupdate ports` prints it (no session holds a port): as buildPortList, except
// that a port whose backend tells why it cannot be used is listed with that cause in place of
// "(access denied)", also where the dialog leaves it out: "COM9 (refused)", "COM9 (busy)",
// "COM9 (host not found)", "COM9 (no answer)".
std::vector<PortListEntry> buildPortReport();

// The line `zelupdate ports` prints for an entry: its text, then its device unless the
// device is the entry's own COM name (Windows, or a [PORTS] mapping to "COMn"), then
// ": problem" when there is one ("COM7 (access denied)  /dev/ttyUSB2: in use by ...",
// "COM7: no such device"). Device and problem are shown as terminal text.
std::string portListLine(const PortListEntry& entry, const std::string& problem);
