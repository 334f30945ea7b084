#include "app/port_list.h"

#include <algorithm>

#include "app/port_access.h"
#include "serial/com_ports.h"
#include "serial/comm.h"

namespace {

// The dialog's list; with causes, ports that cannot be used and whose backend tells why are
// marked with that cause and kept.
std::vector<PortListEntry> listPorts(int sessionPortNumber, bool sessionPortOpen, bool withCauses) {
  std::vector<PortListEntry> entries;
  CComm probe;  // asks without taking any port
  // COM1 to COM15 as always, then the ports the system has above them (Windows numbers USB
  // adapters there, up to COM255).
  std::vector<int> numbers;
  for (int portNo = 1; portNo <= serial::kMaxComPort; ++portNo) numbers.push_back(portNo);
  for (int portNo : serial::presentHighComNumbers()) numbers.push_back(portNo);
  for (int portNo : numbers) {
    serial::PortFailure failure = serial::PortFailure::None;
    const int existing = probe.checkCommExisting(portNo, &failure);
    const std::string mark = withCauses ? portFailureMark(failure) : std::string();
    if (existing != 0 && existing != 1 && mark.empty()) continue;
    const bool ownOpenPort = portNo == sessionPortNumber && sessionPortOpen;
    std::string text = "COM" + std::to_string(portNo);
    if (!mark.empty()) {
      text += " (" + mark + ")";
    } else if (existing != 0 && !ownOpenPort) {
      text += " (access denied)";
    }
    entries.push_back({text, portNo, serial::comPortDevice(portNo), failure});
  }
  std::sort(entries.begin(), entries.end(),
            [](const PortListEntry& a, const PortListEntry& b) { return a.text < b.text; });
  return entries;
}

}  // namespace

std::vector<PortListEntry> buildPortList(int sessionPortNumber, bool sessionPortOpen) {
  return listPorts(sessionPortNumber, sessionPortOpen, false);
}

std::vector<PortListEntry> buildPortReport() {
  return listPorts(0, false, true);
}

std::string portListLine(const PortListEntry& entry, const std::string& problem) {
  std::string line = entry.text;
  // "COM7", "com7" or "\\.\COM7" name the entry's port itself; bare digits are no device.
  const bool ownName = serial::comNumberOfName(entry.device) == entry.portNumber &&
                       entry.device.find_first_not_of("0123456789") != std::string::npos;
  if (!ownName && !entry.device.empty()) line += "  " + serial::printablePortName(entry.device);
  if (!problem.empty()) line += ": " + serial::printablePortName(problem);
  return line;
}
