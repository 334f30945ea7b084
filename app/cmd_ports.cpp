// zelupdate ports: the COM port list as the main dialog shows it, each entry with the
// device behind its number.
#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "app/command_line.h"
#include "platform/com_ports.h"
#include "serial/device_factory.h"

int commandPorts(const std::vector<std::string>& args, const CommonOptions& common) {
  if (!args.empty()) {
    std::fprintf(stderr, "zelupdate ports: unexpected argument '%s'\n", args.front().c_str());
    return kExitUsage;
  }
  const std::string settingsFile = settingsFileFor(common);
  platform::loadComPortMapping(settingsFile);

  // Entry text and device, as the dialog's list: free ports plain, ports in use (or not
  // accessible to this user) marked, absent ports left out.
  std::vector<std::pair<std::string, std::string>> entries;
  for (int portNo = 1; portNo <= platform::kMaxComPort; ++portNo) {
    const std::string device = platform::comPortDevice(portNo);
    if (device.empty()) continue;
    char text[64];
    switch (probeSerialDevice(device)) {
      case platform::ProbeResult::Free:
        std::snprintf(text, sizeof text, "COM%d", portNo);
        break;
      case platform::ProbeResult::InUse:
        std::snprintf(text, sizeof text, "COM%d (access denied)", portNo);
        break;
      case platform::ProbeResult::Absent:
        continue;
    }
    entries.emplace_back(text, device);
  }
  // The dialog's list box sorts by text in plain character order: COM10 before COM2.
  std::sort(entries.begin(), entries.end());

  if (entries.empty()) {
    std::printf(
        "No COM port found (COM1 to COM%d; devices can be assigned in section [PORTS] of %s)\n",
        platform::kMaxComPort, settingsFile.c_str());
    return kExitFailed;
  }
  for (const auto& [text, device] : entries) std::printf("%s  %s\n", text.c_str(), device.c_str());
  return kExitOk;
}
