// Normal mode: the instrument's remote interface. One command per line, ended by a line
// feed (a carriage return before it is ignored, as are other control characters such as
// XON); several commands may share a line separated by ";". Only the exact forms that the
// service program sends are understood, capitals and all; anything else, and any line that
// took in garbage from the line (a parity error, a byte outside 7-bit text), is an
// undefined header. Garbage stays in the line until a line feed ends it, so a command is
// understood only when the line before it was ended. Queries are answered with one line
// ended by carriage return and line feed; errors go into the error queue that "SYST:ERR?"
// reads.
#include <cstdio>
#include <cstdlib>

#include "sim/instrument.h"

namespace sim {
namespace {

constexpr size_t kMaxLineLength = 255;
constexpr size_t kErrorQueueLength = 10;

constexpr const char* kNoError = "0,\"No error\"";
constexpr const char* kUndefinedHeader = "-113,\"Undefined header\"";
constexpr const char* kIllegalValue = "-224,\"Illegal parameter value\"";
constexpr const char* kTooMuchData = "-223,\"Too much data\"";
constexpr const char* kQueueOverflow = "-350,\"Queue overflow\"";

std::string trim(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  const size_t last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

bool isNumber(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

constexpr const char* kSerialPrefix = "SYST:COMM:SER:";

}  // namespace

void Instrument::receiveText(uint8_t byte, bool garbage) {
  if (garbage || byte >= 0x80) {
    m_textLineGarbled = true;
    return;
  }
  if (byte == '\n') {
    const std::string line = m_textLine;
    const bool tooLong = m_textLineTooLong;
    const bool garbled = m_textLineGarbled;
    m_textLine.clear();
    m_textLineTooLong = false;
    m_textLineGarbled = false;
    if (garbled) {
      pushError(kUndefinedHeader);
      return;
    }
    if (tooLong) {
      pushError(kTooMuchData);
      return;
    }
    executeLine(line);
    return;
  }
  if (byte < 0x20 || byte == 0x7F) return;  // CR, XON and other control characters
  if (m_textLine.size() >= kMaxLineLength) {
    m_textLineTooLong = true;
    return;
  }
  m_textLine.push_back(static_cast<char>(byte));
}

void Instrument::executeLine(const std::string& line) {
  size_t begin = 0;
  for (;;) {
    const size_t end = line.find(';', begin);
    const std::string command =
        trim(line.substr(begin, end == std::string::npos ? end : end - begin));
    if (!command.empty()) {
      ++counters.textCommands;
      executeCommand(command);
      // Update mode ends the command interpreter; the rest of the line is not read.
      if (m_mode != Mode::Normal) return;
    }
    if (end == std::string::npos) return;
    begin = end + 1;
  }
}

void Instrument::pushError(const char* entry) {
  if (errorQueue.size() >= kErrorQueueLength) {
    errorQueue.back() = kQueueOverflow;
    return;
  }
  errorQueue.push_back(entry);
}

void Instrument::answer(const std::string& text) {
  const std::string line = text + "\r\n";
  queueOutput(m_now + kTextAnswerDelayNs, std::vector<uint8_t>(line.begin(), line.end()), false);
}

void Instrument::executeCommand(const std::string& command) {
  const size_t blank = command.find(' ');
  const std::string header = command.substr(0, blank);
  const std::string value =
      blank == std::string::npos ? std::string() : trim(command.substr(blank + 1));
  const bool query = !header.empty() && header.back() == '?';

  if (query && !value.empty()) {
    pushError(kUndefinedHeader);
    return;
  }

  if (header == "*IDN?") {
    // Maker, model, serial number, version, then one blank before the line end.
    answer(options.maker + "," + options.model + "," + options.serial + "," + version() + " ");
    return;
  }
  if (header == "SYST:ERR?") {
    if (errorQueue.empty()) {
      answer(kNoError);
    } else {
      answer(errorQueue.front());
      errorQueue.pop_front();
    }
    return;
  }
  if (header == "READ:INFO:DATA?") {
    answer(std::to_string(hwInfo()));
    return;
  }
  if (header == "SYSTEM:SERVICE:GET:BOARD:INFO?") {
    std::string info = "0xA0:1,0xC0:2";
    if (options.board) info += ",0xE0:" + std::to_string(*options.board);
    answer(info);
    return;
  }
  if (header == "SENSE:SWUP") {
    if (!value.empty()) {
      pushError(kIllegalValue);
      return;
    }
    enterUpdateMode();
    return;
  }
  if (header == "SYST:MODE") {
    // QAM mode powers the demodulator of option B1.
    if (value != "QAM") {
      pushError(kIllegalValue);
      return;
    }
    qamMode = true;
    return;
  }
  if (header.starts_with(kSerialPrefix)) {
    const std::string what = header.substr(std::string(kSerialPrefix).size());
    if (query) {
      // The stop bits are asked for as "SBIT?" but set with "SBITS".
      if (what == "BAUD?") {
        answer(std::to_string(serial.baud));
      } else if (what == "BITS?") {
        answer(std::to_string(serial.bits));
      } else if (what == "SBIT?") {
        answer(std::to_string(serial.stopBits));
      } else if (what == "PARITY?") {
        answer(parityText(serial.parity));
      } else if (what == "PACE?") {
        answer(paceText(serial.pace));
      } else {
        pushError(kUndefinedHeader);
      }
      return;
    }
    applySetting(what, value);
    return;
  }
  pushError(kUndefinedHeader);
}

// A setting of the serial interface. It takes effect at once, so the next command must
// come at the new settings. False (with an error queued) when not taken.
bool Instrument::applySetting(const std::string& what, const std::string& value) {
  SerialSettings wanted = serial;
  if (what == "BAUD") {
    if (!isNumber(value) || value.size() > 6 ||
        !isSupportedBaudRate(static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10)))) {
      pushError(kIllegalValue);
      return false;
    }
    wanted.baud = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
  } else if (what == "BITS") {
    if (value != "7" && value != "8") {
      pushError(kIllegalValue);
      return false;
    }
    wanted.bits = static_cast<uint8_t>(value[0] - '0');
  } else if (what == "SBITS") {
    if (value != "1" && value != "2") {
      pushError(kIllegalValue);
      return false;
    }
    wanted.stopBits = static_cast<uint8_t>(value[0] - '0');
  } else if (what == "PARITY") {
    if (value == "NONE") {
      wanted.parity = SerialParity::None;
    } else if (value == "ODD") {
      wanted.parity = SerialParity::Odd;
    } else if (value == "EVEN") {
      wanted.parity = SerialParity::Even;
    } else {
      pushError(kIllegalValue);
      return false;
    }
  } else if (what == "PACE") {
    if (value == "NONE") {
      wanted.pace = Pace::None;
    } else if (value == "XON") {
      wanted.pace = Pace::Xon;
    } else if (value == "ACK") {
      wanted.pace = Pace::Ack;
    } else {
      pushError(kIllegalValue);
      return false;
    }
  } else {
    pushError(kUndefinedHeader);
    return false;
  }
  serial = wanted;
  return true;
}

}  // namespace sim
