#include "serial/device_factory.h"

#include <utility>
#include <vector>

#include "sim/sim_port.h"

// The termios backend is not in the tree yet: until it is, a device path opens nothing and
// probes as absent.
namespace {

class UnavailableDevice : public platform::SerialDevice {
 public:
  bool open() override { return false; }
  void close() override {}
  bool isOpen() const override { return false; }
  bool setQueueSizes(uint32_t, uint32_t) override { return false; }
  bool purge(bool, bool) override { return false; }
  bool getSettings(platform::LineSettings&) override { return false; }
  bool setSettings(const platform::LineSettings&) override { return false; }
  platform::ReadResult readByte(uint8_t&) override { return platform::ReadResult::Failed; }
  bool write(const uint8_t*, uint32_t, uint32_t& written) override {
    written = 0;
    return false;
  }
  bool drain() override { return false; }
  bool outputHeld(bool& held) override {
    held = false;
    return false;
  }
  bool modemStatus(bool&, bool&) override { return false; }
  bool setRts() override { return false; }
  bool setDtr() override { return false; }
  bool clearDtr() override { return false; }
};

std::unique_ptr<platform::SerialDevice> createHostDevice(const std::string&) {
  return std::make_unique<UnavailableDevice>();
}

platform::ProbeResult probeHostDevice(const std::string&) {
  return platform::ProbeResult::Absent;
}

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

std::unique_ptr<platform::SerialDevice> createSerialDevice(const std::string& deviceName) {
  if (const RegisteredFactory* factory = registeredFactoryFor(deviceName)) {
    return factory->create(deviceName);
  }
  if (sim::isSimPortName(deviceName)) return sim::createDevice(deviceName);
  return createHostDevice(deviceName);
}

platform::ProbeResult probeSerialDevice(const std::string& deviceName) {
  if (deviceName.empty()) return platform::ProbeResult::Absent;
  if (const RegisteredFactory* factory = registeredFactoryFor(deviceName)) {
    return factory->probe ? factory->probe(deviceName) : platform::ProbeResult::Free;
  }
  if (sim::isSimPortName(deviceName)) return sim::probe(deviceName);
  return probeHostDevice(deviceName);
}

void registerSerialDeviceFactory(const std::string& prefix, SerialDeviceCreator create,
                                 SerialDeviceProber probe) {
  auto& factories = registeredFactories();
  std::erase_if(factories,
                [&](const RegisteredFactory& factory) { return factory.prefix == prefix; });
  if (create) factories.push_back({prefix, std::move(create), std::move(probe)});
}
