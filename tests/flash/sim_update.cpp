#include "tests/flash/sim_update.h"

#include <fstream>
#include <iterator>

#include "flash/config/config_writer.h"
#include "run/run_state.h"
#include "serial/com_ports.h"

namespace flash_test {

std::string patternBytes(size_t size, uint32_t seed) {
  std::string bytes(size, '\0');
  uint32_t state = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    state = state * 1103515245u + 12345u;
    bytes[i] = static_cast<char>(state >> 16);
  }
  return bytes;
}

std::vector<uint8_t> fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

SimUpdate::SimUpdate(const std::string& options, bool enterUpdateMode)
    : portName("sim:" + options) {
  sim::resetInstruments();
  resetRunState();
  deviceName = kDeviceNameZel;
  serial::setComPortDevice(kSimPort, portName);
  instrument = sim::instrumentFor(portName);
  port.m_portNo = kSimPort;
  if (enterUpdateMode) switchToUpdateMode();
}

SimUpdate::~SimUpdate() {
  port.close();
  serial::setComPortDevice(kSimPort, "");
  sim::resetInstruments();
  deviceName = kDeviceNameUnknown;
  resetRunState();
}

void SimUpdate::writeUpdateFiles() {
  dir.write("ROMWRITE.URL", patternBytes(kLoaderBytes, 1));
  dir.write("ROMWRITE.TRA", patternBytes(kTransferBytes, 2));
  dir.write("NO_ATSC.bin", patternBytes(kImageBytes, 3));
  dir.write("ATSC.BIN", patternBytes(kDspImageBytes, 4));
}

void SimUpdate::writeAutomaticJob(uint32_t hwInfo, bool optionUpdate) {
  writeAutomaticConfiguration(hwInfo, optionUpdate, kSimPort);
}

void SimUpdate::switchToUpdateMode() {
  port.m_baudRate = 9600;
  port.m_dataBits = 8;
  port.m_parity = 0;
  port.m_stopBits = 0;
  port.m_handshake = 0;
  if (port.open() != 0) return;
  port.writeStringToPort("SENSE:SWUP\r\n");
  platform::sleepMs(100);
}

}  // namespace flash_test
