#include "app/port_access.h"

#include "serial/device_factory.h"

bool everyPortDenied(const std::vector<PortListEntry>& entries) {
  static const std::string kDenied = " (access denied)";
  if (entries.empty()) return false;
  for (const PortListEntry& entry : entries) {
    const std::string& text = entry.text;
    if (text.size() < kDenied.size() ||
        text.compare(text.size() - kDenied.size(), kDenied.size(), kDenied) != 0) {
      return false;
    }
  }
  return true;
}

std::string portAccessProblem(const std::string& device) {
  return explainSerialAccess(device);
}
