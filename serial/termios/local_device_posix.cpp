// Local ports on Linux: termios devices; COM1-4 are /dev/ttyS0-3, COM5-12 /dev/ttyUSB0-7
// and COM13-15 /dev/ttyACM0-2.
#include <cstdio>

#include "serial/com_ports.h"
#include "serial/local_device.h"
#include "serial/termios/termios_device.h"

std::unique_ptr<serial::SerialDevice> createLocalDevice(const std::string& name) {
  return std::make_unique<serial::TermiosDevice>(name);
}

serial::ProbeResult probeLocalDevice(const std::string& name) {
  return serial::TermiosDevice::probe(name);
}

std::string explainLocalAccess(const std::string& name) {
  return serial::TermiosDevice::explainAccess(name);
}

std::string defaultComDevice(int portNo) {
  char name[32];
  if (portNo >= 1 && portNo <= 4) {
    std::snprintf(name, sizeof name, "/dev/ttyS%d", portNo - 1);
  } else if (portNo >= 5 && portNo <= 12) {
    std::snprintf(name, sizeof name, "/dev/ttyUSB%d", portNo - 5);
  } else if (portNo >= 13 && portNo <= serial::kMaxComPort) {
    std::snprintf(name, sizeof name, "/dev/ttyACM%d", portNo - 13);
  } else {
    return std::string();
  }
  return name;
}

std::vector<int> systemComNumbers() {
  return {};
}
