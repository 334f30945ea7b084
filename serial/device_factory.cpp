#include "serial/device_factory.h"

#include <utility>
#include <vector>

#include "serial/local_device.h"
#include "serial/rfc2217/rfc2217_device.h"

namespace {

struct RegisteredFactory {
  std::string prefix;
  SerialDeviceCreator create;
  SerialDeviceProber probe;
};

std::vector<RegisteredFactory>& registeredFactories() {
  static std::vector<RegisteredFactory> factories;
  return factories;
}

const RegisteredFactory* registeredFactoryFor(const std::string& deviceName) {
  for (const RegisteredFactory& factory : registeredFactories()) {
    if (deviceName.starts_with(factory.prefix)) return &factory;
  }
  return nullptr;
}

}  // namespace

std::unique_ptr<serial::SerialDevice> createSerialDevice(const std::string& deviceName) {
  if (const RegisteredFactory* factory = registeredFactoryFor(deviceName)) {
    return factory->create(deviceName);
  }
  if (serial::isNetworkPortName(deviceName)) {
    return std::make_unique<serial::Rfc2217Device>(deviceName);
  }
  return createLocalDevice(deviceName);
}

serial::ProbeResult probeSerialDevice(const std::string& deviceName, serial::PortFailure* failure) {
  if (failure) *failure = serial::PortFailure::None;
  if (deviceName.empty()) return serial::ProbeResult::Absent;
  if (const RegisteredFactory* factory = registeredFactoryFor(deviceName)) {
    return factory->probe ? factory->probe(deviceName) : serial::ProbeResult::Free;
  }
  if (serial::isNetworkPortName(deviceName)) {
    return serial::Rfc2217Device::probe(deviceName, failure);
  }
  return probeLocalDevice(deviceName);
}

std::string explainSerialAccess(const std::string& deviceName) {
  if (registeredFactoryFor(deviceName) || serial::isNetworkPortName(deviceName)) return {};
  return explainLocalAccess(deviceName);
}

void registerSerialDeviceFactory(const std::string& prefix, SerialDeviceCreator create,
                                 SerialDeviceProber probe) {
  auto& factories = registeredFactories();
  std::erase_if(factories,
                [&](const RegisteredFactory& factory) { return factory.prefix == prefix; });
  if (create) factories.push_back({prefix, std::move(create), std::move(probe)});
}
