#include "app/port_echo_delays.h"

#include <algorithm>

#include "app/port_access.h"
#include "serial/port_names.h"
#include "serial/serial_inventory.h"

namespace {

// Ports that have no adapter of this machine behind them.
bool isLocalDevice(const std::string& device) {
  return !device.empty() && !serial::isSimulatedPortName(device) &&
         !serial::isNetworkPortName(device);
}

}  // namespace

EchoDelays portEchoDelays(const std::string& device, const serial::SerialDevice* open) {
  EchoDelays delays;
  if (open != nullptr) {
    const serial::ReceiveDelays known = open->receiveDelays();
    delays.adapterLatencyMs = known.adapterLatencyUs / 1000.0;
    delays.networkRoundTripMs = known.networkRoundTripUs / 1000.0;
  }
  if (isLocalDevice(device)) {
    const std::vector<serial::SerialDeviceInfo> devices =
        serial::listSerialDevices(serialInventoryRoots());
    if (const serial::SerialDeviceInfo* info = serial::findSerialDevice(devices, device)) {
      delays.adapterLatencyMs =
          std::max<double>(delays.adapterLatencyMs, serial::latencyWhileHeldMs(*info));
    }
  }
  return delays;
}
