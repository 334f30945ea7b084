// zelupdate ports: the COM port list as the main dialog shows it, each entry with the
// device behind its number.
#include <cstdio>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/port_access.h"
#include "app/port_list.h"
#include "platform/com_ports.h"

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
        platform::kMaxComPort, settingsFile.c_str());
    return kExitFailed;
  }
  for (const PortListEntry& entry : entries) {
    std::printf("%s  %s\n", entry.text.c_str(), entry.device.c_str());
  }
  if (everyPortDenied(entries)) std::fputs(kPortAccessHint, stdout);
  return kExitOk;
}
