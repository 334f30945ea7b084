// The operator at the instrument's front panel, who carries out what a message box of the
// manual workflow asks for.
#include <cstdlib>

#include "sim/instrument.h"

namespace sim {

bool Instrument::operatorAcknowledged(const std::string& text) {
  advance();
  const bool waitsForBoot =
      text.find("Wait until") != std::string::npos && text.find("booted") != std::string::npos;
  const bool firmwareUpdate = text.find("FIRMWARE UPDATE") != std::string::npos;
  const bool setup =
      text.find("SETUP") != std::string::npos && text.find("RS232") != std::string::npos;
  if (!waitsForBoot && !firmwareUpdate && !setup) return false;

  // Whatever the box asks, the operator first waits until the instrument shows its
  // screen again.
  while (m_mode == Mode::Booting) sleepUntil(m_bootDoneAt);
  if (waitsForBoot) return true;

  if (firmwareUpdate) {
    // PRESET ends QAM mode; the service menu then starts the firmware update.
    if (m_mode != Mode::Normal) return false;
    qamMode = false;
    enterUpdateMode();
    return true;
  }

  // SETUP / REMOTE / RS232: the values the box lists, one per line ("- BAUDRATE 9600").
  if (m_mode != Mode::Normal) return false;
  SerialSettings wanted = serial;
  size_t lineStart = 0;
  while (lineStart <= text.size()) {
    size_t lineEnd = text.find('\n', lineStart);
    if (lineEnd == std::string::npos) lineEnd = text.size();
    std::string line = text.substr(lineStart, lineEnd - lineStart);
    lineStart = lineEnd + 1;
    while (!line.empty() && (line.back() == '.' || line.back() == ' ')) line.pop_back();
    const size_t dash = line.find("- ");
    if (dash != std::string::npos) line = line.substr(dash + 2);
    const size_t blank = line.find(' ');
    if (blank == std::string::npos) continue;
    const std::string key = line.substr(0, blank);
    const std::string value = line.substr(blank + 1);
    if (key == "BAUDRATE") {
      const unsigned long baud = std::strtoul(value.c_str(), nullptr, 10);
      if (isSupportedBaudRate(static_cast<uint32_t>(baud)))
        wanted.baud = static_cast<uint32_t>(baud);
    } else if (key == "DATABITS" && (value == "7" || value == "8")) {
      wanted.bits = static_cast<uint8_t>(value[0] - '0');
    } else if (key == "STOPBIT" && (value == "1" || value == "2")) {
      wanted.stopBits = static_cast<uint8_t>(value[0] - '0');
    } else if (key == "PARITY") {
      if (value == "NO" || value == "NONE") wanted.parity = SerialParity::None;
      if (value == "ODD") wanted.parity = SerialParity::Odd;
      if (value == "EVEN") wanted.parity = SerialParity::Even;
    } else if (key == "HANDSHAKE") {
      if (value.find("XON") != std::string::npos) wanted.pace = Pace::Xon;
      if (value == "NONE" || value == "NO") wanted.pace = Pace::None;
      if (value.find("RTS") != std::string::npos) wanted.pace = Pace::Ack;
    }
  }
  serial = wanted;
  m_textLine.clear();
  m_textLineGarbled = false;
  return true;
}

}  // namespace sim
