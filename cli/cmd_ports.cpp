// zelupdate ports: the COM port list as the main dialog shows it, each entry with the
// device behind its number; with --all every serial device of the machine with its stable
// names and USB identity.
#include <cstdio>
#include <string>
#include <vector>

#include "app/port_access.h"
#include "app/port_list.h"
#include "cli/command.h"
#include "cli/command_options.h"
#include "serial/com_ports.h"
#include "serial/serial_inventory.h"

namespace {

std::string shown(const std::string& text) {
  return serial::printablePortName(text);
}

int listAllDevices() {
  const std::vector<serial::SerialDeviceInfo> devices =
      serial::listSerialDevices(serialInventoryRoots());
  if (devices.empty()) {
    std::printf("No serial device found\n");
    return kExitFailed;
  }
  for (const serial::SerialDeviceInfo& d : devices) {
    std::string line = shown(d.device);
    if (!d.driver.empty()) line += "  " + shown(d.driver);
    if (!d.description.empty()) line += "  \"" + shown(d.description) + "\"";
    if (d.usb) {
      const serial::UsbIdentity& id = d.identity;
      line += "  USB " + shown(id.vendorId) + ":" + shown(id.productId);
      if (!id.manufacturer.empty()) line += "  " + shown(id.manufacturer);
      if (!id.product.empty()) line += "  \"" + shown(id.product) + "\"";
      if (!id.serial.empty()) line += "  serial " + shown(id.serial);
    }
    std::printf("%s\n", line.c_str());
    for (const std::string& link : d.byId) std::printf("  %s\n", shown(link).c_str());
    for (const std::string& link : d.byPath) std::printf("  %s\n", shown(link).c_str());
    if (const std::string warning = latencyTimerWarning(d); !warning.empty()) {
      std::printf("  %s\n", shown(warning).c_str());
    }
  }
  return kExitOk;
}

}  // namespace

namespace {

int listComPorts(const CommonOptions& common) {
  const std::string settingsFile = settingsFileFor(common);
  serial::loadComPortMapping(settingsFile);

  // No session holds a port here, so every port in use shows as such; a network port that
  // cannot be used says why.
  const std::vector<PortListEntry> entries = buildPortReport();

  if (entries.empty()) {
    std::printf(
        "No COM port found (COM1 to COM%d; devices can be assigned in section [PORTS] of %s)\n",
        serial::kMaxComPort, serial::printablePortName(settingsFile).c_str());
    return kExitFailed;
  }
  // A port without access says why; the dialout advice only where that group would help.
  bool dialoutHelps = false;
  for (const PortListEntry& entry : entries) {
    const std::string problem = portAccessProblem(entry.device);
    if (entry.text.find("(access denied)") != std::string::npos) {
      dialoutHelps = dialoutHelps || problem.starts_with(kNotInDialout);
    }
    std::printf("%s\n", portListLine(entry, problem).c_str());
  }
  if (dialoutHelps && everyPortDenied(entries)) std::fputs(kPortAccessHint, stdout);
  return kExitOk;
}

class PortsCommand final : public Command {
 public:
  void define(CLI::App& app) override {
    app.add_flag("--all", m_all, "every serial device, stable names, adapter");
  }

  int run(const CommonOptions& common) override {
    return m_all ? listAllDevices() : listComPorts(common);
  }

 private:
  bool m_all = false;
};

}  // namespace

std::unique_ptr<Command> makePortsCommand() {
  return std::make_unique<PortsCommand>();
}
