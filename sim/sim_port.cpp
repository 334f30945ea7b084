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
class SimDevice : public platform::SerialDevice {
 public:
  explicit SimDevice(std::shared_ptr<Instrument> instrument)
      : m_instrument(std::move(instrument)) {}
  ~SimDevice() override { close(); }
  SimDevice(const SimDevice&) = delete;
  SimDevice& operator=(const SimDevice&) = delete;

  bool open() override {
    if (m_open) return true;
    if (!m_instrument->hostOpen()) return false;  // another device has the line
    m_open = true;
    lastOpened() = m_instrument;
    // The operator stands in front of the instrument whose line was opened last and does
    // what an acknowledged message box asks of it.
    ui::setAcknowledgeHook([](const std::string& text) { operatorAcknowledged(text); });
    return true;
  }
  void close() override {
    if (!m_open) return;
    m_instrument->hostClose();
    m_open = false;
  }
  bool isOpen() const override { return m_open; }
  bool setQueueSizes(uint32_t, uint32_t) override { return m_open; }
  bool purge(bool input, bool output) override {
    if (!m_open) return false;
    m_instrument->hostPurge(input, output);
    return true;
  }
  bool getSettings(platform::LineSettings& settings) override {
    if (!m_open) return false;
    settings = m_instrument->hostSettings();
    return true;
  }
  bool setSettings(const platform::LineSettings& settings) override {
    if (!m_open) return false;
    if (settings.baudRate == 0 || settings.dataBits < 5 || settings.dataBits > 8) return false;
    m_instrument->hostSetSettings(settings);
    return true;
  }
  platform::ReadResult readByte(uint8_t& byte) override {
    if (!m_open) return platform::ReadResult::Failed;
    return m_instrument->hostReadByte(byte);
  }
  bool write(const uint8_t* data, uint32_t size, uint32_t& written) override {
    written = 0;
    if (!m_open) return false;
    return m_instrument->hostWrite(data, size, written);
  }
  bool drain() override {
    if (!m_open) return false;
    m_instrument->hostDrain();
    return true;
  }
  bool outputHeld(bool& held) override {
    held = false;
    if (!m_open) return false;
    held = m_instrument->hostOutputHeld();
    return true;
  }
  bool modemStatus(bool& cts, bool& dsr) override {
    cts = false;
    dsr = false;
    if (!m_open) return false;
    m_instrument->hostModemStatus(cts, dsr);
    return true;
  }
  bool setRts() override { return setLine(&Instrument::hostSetRts, true); }
  bool setDtr() override { return setLine(&Instrument::hostSetDtr, true); }
  bool clearDtr() override { return setLine(&Instrument::hostSetDtr, false); }
  // The adapter of the `latency` option; the line itself is in-process.
  platform::ReceiveDelays receiveDelays() const override {
    platform::ReceiveDelays delays;
    delays.adapterLatencyUs = m_instrument->options.latencyMs * 1000;
    return delays;
  }

 private:
  bool setLine(void (Instrument::*set)(bool), bool on) {
    if (!m_open) return false;
    ((*m_instrument).*set)(on);
    return true;
  }

  std::shared_ptr<Instrument> m_instrument;
  bool m_open = false;
};

}  // namespace

std::unique_ptr<platform::SerialDevice> createDevice(const std::string& deviceName) {
  std::shared_ptr<Instrument> instrument = instrumentFor(deviceName);
  if (!instrument) return nullptr;
  return std::make_unique<SimDevice>(std::move(instrument));
}

platform::ProbeResult probe(const std::string& deviceName) {
  std::shared_ptr<Instrument> instrument = instrumentFor(deviceName);
  if (!instrument) return platform::ProbeResult::Absent;
  return instrument->hostIsOpen() ? platform::ProbeResult::InUse : platform::ProbeResult::Free;
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
  if (!platform::isSimulatedPortName(portName)) return "not a simulated port: \"" + portName + "\"";
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
