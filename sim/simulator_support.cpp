#include "sim/simulator_support.h"

#include "serial/device_factory.h"
#include "serial/port_names.h"
#include "sim/registry.h"
#include "sim/sample_files.h"
#include "sim/sim_port.h"

void installSimulatorBackend() {
  registerSerialDeviceFactory(serial::kSimulatedPortPrefix, sim::createDevice, sim::probe);
}

std::string installClockForDevice(const std::string& deviceName) {
  if (!serial::isSimulatedPortName(deviceName)) return {};
  return sim::installClockFor(deviceName);
}

int writeSampleUpdateSet(const std::string& folder) {
  return sim::writeSampleUpdateFiles(folder);
}
