#include "app/port_echo_delays.h"

#include <algorithm>

#include "app/port_access.h"
#include "serial/port_names.h"
#include "serial/serial_inventory.h"

namespace {

// Ports that have no adapter of this machine behind them.
bool isLocalDevice(const std::string& device) {
  return !device.empty() && !platform::isSimulatedPortName(device) &&
         !platform::isNetworkPortName(device);
}

}  // namespace

EchoDelays portEchoDelays(const std::string& device, const platform::SerialDevice* open) {
  EchoDelays delays;
  if (open != nullptr) {
    const platform::ReceiveDelays known = open->receiveDelays();
    delays.adapterLatencyMs = known.adapterLatencyUs / 1000.0;
    delays.networkRoundTripMs = known.networkRoundTripUs / 1000.0;
  }
  if (isLocalDevice(device)) {
    const std::vector<platform::SerialDeviceInfo> devices =
        platform::listSerialDevices(serialInventoryRoots());
    if (const platform::SerialDeviceInfo* info = platform::findSerialDevice(devices, device)) {
      delays.adapterLatencyMs =
          std::max<double>(delays.adapterLatencyMs, platform::latencyWhileHeldMs(*info));
    }
  }
  return delays;
}
