// zelupdate ports: the COM port list as the main dialog shows it, each entry with the
// device behind its number.
#include <cstdio>
#include <string>
#include <vector>

#include "app/port_access.h"
#include "app/port_list.h"
#include "cli/command_line.h"
#include "serial/com_ports.h"

int commandPorts(const std::vector<std::string>& args, const CommonOptions& common) {
  if (!args.empty()) {
    std::fprintf(stderr, "zelupdate ports: unexpected argument '%s'\n", args.front().c_str());
    return kExitUsage;
  }
  const std::string settingsFile = settingsFileFor(common);
  platform::loadComPortMapping(settingsFile);

  // No session holds a port here, so every port in use shows as such.
  const std::vector<PortListEntry> entries = buildPortList(0, false);

  if (entries.empty()) {
    std::printf(
        "No COM port found (COM1 to COM%d; devices can be assigned in section [PORTS] of %s)\n",
        platform::kMaxComPort, platform::printablePortName(settingsFile).c_str());
    return kExitFailed;
  }
  // A port without access says why; the dialout advice only where that group would help.
  bool dialoutHelps = false;
  for (const PortListEntry& entry : entries) {
    const std::string device = platform::printablePortName(entry.device);
    const std::string problem = portAccessProblem(entry.device);
    if (problem.empty() || entry.text.find("(access denied)") == std::string::npos) {
      std::printf("%s  %s\n", entry.text.c_str(), device.c_str());
      continue;
    }
    dialoutHelps = dialoutHelps || problem.starts_with(kNotInDialout);
    std::printf("%s  %s: %s\n", entry.text.c_str(), device.c_str(), problem.c_str());
  }
  if (dialoutHelps && everyPortDenied(entries)) std::fputs(kPortAccessHint, stdout);
  return kExitOk;
}
