#include "sim/simulator_support.h"

#include "serial/device_factory.h"
#include "sim/registry.h"
#include "sim/sample_files.h"
#include "sim/sim_port.h"

void installSimulatorBackend() {
  registerSerialDeviceFactory("sim:", sim::createDevice, sim::probe);
}

std::string installClockForDevice(const std::string& deviceName) {
  if (!sim::isSimPortName(deviceName)) return {};
  return sim::installClockFor(deviceName);
}

int writeSampleUpdateSet(const std::string& folder) {
  return sim::writeSampleUpdateFiles(folder);
}
