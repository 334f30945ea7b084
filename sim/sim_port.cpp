#include "sim/sim_port.h"

#include <map>

#include "platform/clock.h"
#include "serial/port_names.h"
#include "sim/registry.h"
#include "ui/message_box.h"

namespace sim {
namespace {

std::map<std::string, std::shared_ptr<Instrument>>& instruments() {
  static std::map<std::string, std::shared_ptr<Instrument>> registry;
  return registry;
}

std::weak_ptr<Instrument>& lastOpened() {
  static std::weak_ptr<Instrument> instrument;
  return instrument;
}

std::unique_ptr<platform::Clock>& installedClock() {
  static std::unique_ptr<platform::Clock> clock;
  return clock;
}

// The serial device of a simulated port: the host's end of the instrument's line.
class SimDevice : public serial::SerialDevice {
 public:
  explicit SimDevice(std::shared_ptr<Instrument> instrument)
      : m_instrument(std::move(instrument)) {}
  ~SimDevice() override { close(); }
  SimDevice(const SimDevice&) = delete;
  SimDevice& operator=(const SimDevice&) = delete;

  bool isOpen() const override { return m_open; }
  // The adapter of the `latency` option; the line itself is in-process.
  serial::ReceiveDelays receiveDelays() const override {
    serial::ReceiveDelays delays;
    delays.adapterLatencyUs = m_instrument->options.latencyMs * 1000;
    return delays;
  }

 protected:
  bool openImpl() override {
    if (!m_instrument->hostOpen()) return false;  // another device has the line
    m_open = true;
    lastOpened() = m_instrument;
    // The operator stands in front of the instrument whose line was opened last and does
    // what an acknowledged message box asks of it.
    ui::setAcknowledgeHook([](const std::string& text) { operatorAcknowledged(text); });
    return true;
  }
  void closeImpl() override {
    m_instrument->hostClose();
    m_open = false;
  }
  bool setQueueSizesImpl(uint32_t, uint32_t) override { return true; }
  bool purgeImpl(bool input, bool output) override {
    m_instrument->hostPurge(input, output);
    return true;
  }
  bool getSettingsImpl(serial::LineSettings& settings) override {
    settings = m_instrument->hostSettings();
    return true;
  }
  bool setSettingsImpl(const serial::LineSettings& settings) override {
    if (settings.baudRate == 0 || settings.dataBits < 5 || settings.dataBits > 8) return false;
    m_instrument->hostSetSettings(settings);
    return true;
  }
  serial::ReadResult readByteImpl(uint8_t& byte) override {
    return m_instrument->hostReadByte(byte);
  }
  bool writeImpl(const uint8_t* data, uint32_t size, uint32_t& written) override {
    return m_instrument->hostWrite(data, size, written);
  }
  bool drainImpl() override {
    m_instrument->hostDrain();
    return true;
  }
  bool outputHeldImpl(bool& held) override {
    held = m_instrument->hostOutputHeld();
    return true;
  }
  bool modemStatusImpl(bool& cts, bool& dsr) override {
    m_instrument->hostModemStatus(cts, dsr);
    return true;
  }
  bool setRtsImpl() override {
    m_instrument->hostSetRts(true);
    return true;
  }
  bool setDtrImpl() override {
    m_instrument->hostSetDtr(true);
    return true;
  }
  bool clearDtrImpl() override {
    m_instrument->hostSetDtr(false);
    return true;
  }

 private:
  std::shared_ptr<Instrument> m_instrument;
  bool m_open = false;
};

}  // namespace

std::unique_ptr<serial::SerialDevice> createDevice(const std::string& deviceName) {
  std::shared_ptr<Instrument> instrument = instrumentFor(deviceName);
  if (!instrument) return nullptr;
  return std::make_unique<SimDevice>(std::move(instrument));
}

serial::ProbeResult probe(const std::string& deviceName) {
  std::shared_ptr<Instrument> instrument = instrumentFor(deviceName);
  if (!instrument) return serial::ProbeResult::Absent;
  return instrument->hostIsOpen() ? serial::ProbeResult::InUse : serial::ProbeResult::Free;
}

std::shared_ptr<Instrument> instrumentFor(const std::string& portName) {
  auto& registry = instruments();
  const auto found = registry.find(portName);
  if (found != registry.end()) return found->second;
  Options options;
  if (!parseOptions(portName, options).empty()) return nullptr;
  auto instrument = std::make_shared<Instrument>(options);
  registry.emplace(portName, instrument);
  // From the first instrument on, an operator stands in front of the simulation and does
  // what acknowledged message boxes ask.
  ui::setAcknowledgeHook([](const std::string& text) { operatorAcknowledged(text); });
  return instrument;
}

std::string checkPortName(const std::string& portName) {
  if (!serial::isSimulatedPortName(portName)) return "not a simulated port: \"" + portName + "\"";
  Options options;
  if (std::string error = parseOptions(portName, options); !error.empty()) return error;
  if (options.stateFolder.empty()) return std::string();
  return stateFolderProblem(options.stateFolder);
}

void resetInstruments() {
  instruments().clear();
  lastOpened().reset();
}

std::shared_ptr<Instrument> lastOpenedInstrument() {
  return lastOpened().lock();
}

bool operatorAcknowledged(const std::string& messageBoxText) {
  std::shared_ptr<Instrument> instrument = lastOpened().lock();
  // Before any line was opened (a manual run asks for the front-panel steps before it opens
  // the port), the operator stands in front of the only instrument there is.
  if (!instrument && instruments().size() == 1) instrument = instruments().begin()->second;
  return instrument && instrument->operatorAcknowledged(messageBoxText);
}

void installClockFor(const Options& options) {
  std::unique_ptr<platform::Clock> clock;
  switch (options.speed) {
    case SpeedMode::Virtual:
      clock = std::make_unique<platform::VirtualClock>();
      break;
    case SpeedMode::Real:
      clock = std::make_unique<platform::SteadyClock>(1.0);
      break;
    case SpeedMode::Factor:
      clock = std::make_unique<platform::SteadyClock>(options.speedFactor);
      break;
  }
  platform::setClock(clock.get());
  installedClock() = std::move(clock);
}

std::string installClockFor(const std::string& portName) {
  Options options;
  std::string error = parseOptions(portName, options);
  if (error.empty() && !options.stateFolder.empty())
    error = stateFolderProblem(options.stateFolder);
  if (error.empty()) installClockFor(options);
  return error;
}

void uninstallClock() {
  platform::setClock(nullptr);
  installedClock().reset();
}

}  // namespace sim
