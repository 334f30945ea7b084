#include "serial/com_ports.h"

#include <cstdio>
#include <cstdlib>
#include <map>

#include "platform/profile.h"

namespace platform {
namespace {

// Section of the settings file that maps COM numbers to devices.
constexpr const char* kPortsSection = "PORTS";
// Highest number a mapping may name (the highest COM number Windows knows).
constexpr int kMaxMappedPort = 255;

// Numbers mapped by the settings file or the program; an empty device hides the number.
std::map<int, std::string>& overrides() {
  static std::map<int, std::string> table;
  return table;
}

std::string defaultDevice(int portNo) {
  char name[32];
  if (portNo >= 1 && portNo <= 4) {
    std::snprintf(name, sizeof name, "/dev/ttyS%d", portNo - 1);
  } else if (portNo >= 5 && portNo <= 12) {
    std::snprintf(name, sizeof name, "/dev/ttyUSB%d", portNo - 5);
  } else if (portNo >= 13 && portNo <= kMaxComPort) {
    std::snprintf(name, sizeof name, "/dev/ttyACM%d", portNo - 13);
  } else {
    return std::string();
  }
  return name;
}

// The number of a key "COMn" (any case); 0 for other keys.
int comKeyNumber(const std::string& key) {
  if (key.size() < 4 || key.size() > 6) return 0;
  if ((key[0] | 0x20) != 'c' || (key[1] | 0x20) != 'o' || (key[2] | 0x20) != 'm') return 0;
  int number = 0;
  for (size_t i = 3; i < key.size(); ++i) {
    if (key[i] < '0' || key[i] > '9') return 0;
    number = number * 10 + (key[i] - '0');
  }
  return number >= 1 && number <= kMaxMappedPort ? number : 0;
}

}  // namespace

std::string comPortDevice(int portNo) {
  const auto found = overrides().find(portNo);
  if (found != overrides().end()) return found->second;
  return defaultDevice(portNo);
}

void setComPortDevice(int portNo, const std::string& device) {
  if (portNo < 1 || portNo > kMaxMappedPort) return;
  overrides()[portNo] = device;
}

void resetComPortMapping() {
  overrides().clear();
}

void loadComPortMapping(const std::string& settingsFile) {
  for (const auto& [key, device] : getPrivateProfileSection(kPortsSection, settingsFile)) {
    const int number = comKeyNumber(key);
    if (number != 0) setComPortDevice(number, device);
  }
}

std::string printablePortName(const std::string& name) {
  std::string shown;
  shown.reserve(name.size());
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7f) {
      shown += c;
      continue;
    }
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
    shown += escaped;
  }
  return shown;
}

}  // namespace platform
