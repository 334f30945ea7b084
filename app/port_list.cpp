#include "app/port_list.h"

#include <algorithm>
#include <cstdio>

#include "serial/com_ports.h"
#include "serial/comm.h"

std::vector<PortListEntry> buildPortList(int sessionPortNumber, bool sessionPortOpen) {
  std::vector<PortListEntry> entries;
  CComm probe;  // asks without taking any port
  // COM1 to COM15 as always, then the ports the system has above them (Windows numbers USB
  // adapters there, up to COM255).
  std::vector<int> numbers;
  for (int portNo = 1; portNo <= platform::kMaxComPort; ++portNo) numbers.push_back(portNo);
  for (int portNo : platform::presentHighComNumbers()) numbers.push_back(portNo);
  for (int portNo : numbers) {
    const int existing = probe.checkCommExisting(portNo);
    if (existing != 0 && existing != 1) continue;
    const bool ownOpenPort = portNo == sessionPortNumber && sessionPortOpen;
    char text[32];
    std::snprintf(text, sizeof text,
                  existing == 0 || ownOpenPort ? "COM%d" : "COM%d (access denied)", portNo);
    entries.push_back({text, portNo, platform::comPortDevice(portNo)});
  }
  std::sort(entries.begin(), entries.end(),
            [](const PortListEntry& a, const PortListEntry& b) { return a.text < b.text; });
  return entries;
}

std::string portListLine(const PortListEntry& entry, const std::string& problem) {
  std::string line = entry.text;
  // "COM7", "com7" or "\\.\COM7" name the entry's port itself; bare digits are no device.
  const bool ownName = platform::comNumberOfName(entry.device) == entry.portNumber &&
                       entry.device.find_first_not_of("0123456789") != std::string::npos;
  if (!ownName && !entry.device.empty()) line += "  " + platform::printablePortName(entry.device);
  if (!problem.empty()) line += ": " + platform::printablePortName(problem);
  return line;
}
