// The instrument session: settings file, port, command primitives, automatic connection
// and the instrument's serial settings.
#include <cstring>
#include <string>

#include "flash/programming_link.h"
#include "instrument/answer_parsing.h"
#include "instrument/command_text.h"
#include "instrument/zel.h"
#include "platform/clock.h"
#include "platform/profile.h"

namespace {

constexpr const char* kTrue = "TRUE";
constexpr const char* kFalse = "FALSE";

// Ends a command or query whose answer arrived: terminates the text (never past the
// caller's capacity), reports its length and writes the leave record. Returns 1.
int32_t acceptAnswer(TraceScope& scope, char* answer, uint32_t count, uint32_t capacity,
                     uint32_t& length) {
  if (count > capacity) count = capacity;
  answer[count] = '\0';
  length = count;
  traceLeave(scope, "%s {noOfReadBytes=%d}", kTrue, static_cast<int>(count));
  return 1;
}

// Setting commands built from an instrument text are formatted into a buffer of this size.
constexpr size_t kCommandBufferSize = 100;

// One probe of autoConnect: baud rate and how long to wait for the answer.
struct ProbeRate {
  int32_t baudRate;
  int32_t readTimeoutMs;
};

// Fast rates first; slow rates need longer for the same answer.
constexpr ProbeRate kProbeRates[] = {
    {19200, 400}, {9600, 400}, {4800, 500}, {2400, 700}, {1200, 1000},
};
constexpr int32_t kProbeDataBits[] = {8, 7};
constexpr int32_t kProbeParities[] = {0, 1, 2};  // none, odd, even

// A pace, parity or baud text of the instrument and the port field value it stands for.
struct TextSetting {
  const char* text;
  int32_t value;
};

constexpr TextSetting kPaceSettings[] = {{"XON", 2}, {"NONE", 0}, {"ACK", 1}};
constexpr TextSetting kParitySettings[] = {{"EVEN", 2}, {"ODD", 1}, {"NONE", 0}};
constexpr TextSetting kBaudSettings[] = {
    {"1200", 1200}, {"2400", 2400}, {"4800", 4800}, {"9600", 9600}, {"19200", 19200},
};

// The value for an instrument text (compared exactly, capitals included).
template <size_t N>
bool lookUpSetting(const TextSetting (&table)[N], const char* text, int32_t& value) {
  for (const TextSetting& setting : table) {
    if (std::strcmp(setting.text, text) == 0) {
      value = setting.value;
      return true;
    }
  }
  return false;
}

// The default line settings, applied one command at a time: each step moves the
// instrument first and then the port after it.
struct DefaultStep {
  const char* command;
  int32_t CComm::*field;
  int32_t value;
};

constexpr DefaultStep kDefaultSteps[] = {
    {"SYST:COMM:SER:PACE NONE\r\n", &CComm::m_handshake, 0},
    {"SYST:COMM:SER:PARITY NONE\r\n", &CComm::m_parity, 0},
    {"SYST:COMM:SER:BAUD 9600\r\n", &CComm::m_baudRate, 9600},
    {"SYST:COMM:SER:BITS 8\r\n", &CComm::m_dataBits, 8},
    {"SYST:COMM:SER:SBITS 1\r\n", &CComm::m_stopBits, 0},
};

}  // namespace

CZel::CZel() {
  m_comm.m_portNo = 1;
  m_comm.m_baudRate = m_savedBaudRate;
  m_comm.m_parity = m_savedParity;
  m_comm.m_handshake = m_savedHandshake;
  m_comm.m_readTimeout = kSessionReadTimeoutMs;
  m_comm.m_stopDelimiter = kLineFeed;
}

// --- settings file ---

void CZel::setIniFile(const std::string& path) {
  m_iniFile = path;
}

int32_t CZel::readSettings() {
  const int32_t value = platform::getPrivateProfileInt(kZelSettingsSection, kZelSettingsPortKey,
                                                       m_comm.m_portNo, m_iniFile);
  m_comm.m_portNo = value < 1 ? 1 : value;
  return value;
}

int32_t CZel::writeSettings() {
  return platform::writePrivateProfileString(kZelSettingsSection, kZelSettingsPortKey,
                                             std::to_string(m_comm.m_portNo), m_iniFile)
             ? 1
             : 0;
}

// --- port ---

int32_t CZel::open() {
  TraceScope scope(&m_trace, "open");
  if (m_comm.open() == 0) {
    traceLeave(scope, "%s", kTrue);
    return 0;
  }
  traceRemark(scope, "no connection");
  // The failure may have come after the device was obtained: do not leave it half set up.
  if (m_comm.isOpen()) m_comm.close();
  traceLeave(scope, "%s", kFalse);
  return 1;
}

void CZel::close() {
  TraceScope scope(&m_trace, "close");
  m_comm.close();
}

void CZel::storePortParameter() {
  m_savedBaudRate = m_comm.m_baudRate;
  m_savedParity = m_comm.m_parity;
  m_savedHandshake = m_comm.m_handshake;
  m_savedDataBits = m_comm.m_dataBits;
  m_savedStopBits = m_comm.m_stopBits;
}

int32_t CZel::restorePortParameter() {
  m_comm.m_baudRate = m_savedBaudRate;
  m_comm.m_parity = m_savedParity;
  m_comm.m_handshake = m_savedHandshake;
  m_comm.m_dataBits = m_savedDataBits;
  m_comm.m_stopBits = m_savedStopBits;
  return open();
}

void CZel::getIdnString(std::string& text) const {
  text = idnString;
}

// --- commands ---

bool CZel::sendCommand(const char* command) {
  // Passed as an argument rather than as the format, so that the text goes out exactly as
  // it stands: a percent sign in an instrument's text is sent, not interpreted.
  return command != nullptr && m_comm.writeStringToPort("%s", command) != 0;
}

bool CZel::sendSetting(const char* format, const char* value) {
  char command[kCommandBufferSize];
  if (!instrument::formatSettingCommand(command, sizeof command, format, value)) return false;
  return sendCommand(command);
}

int32_t CZel::executeCommand(char* command, char* answer, uint32_t& length) {
  const uint32_t capacity = length;
  TraceScope scope(&m_trace, "executeCommand: ", "%s",
                   instrument::printable(command ? command : "").c_str());
  length = 0;
  if (answer != nullptr) answer[0] = '\0';

  instrument::upperCaseInPlace(command);
  if (!sendCommand(command)) {
    traceLeave(scope, "%s {noOfReadBytes=%d}", kFalse, 0);
    return 0;
  }
  if (!instrument::isQuery(command)) {
    traceLeave(scope, "%s {noOfReadBytes=%d}", kTrue, 0);
    return 1;
  }
  if (answer == nullptr || capacity == 0) {
    traceError(scope, "no room for the answer");
    traceLeave(scope, "%s {noOfReadBytes=%d}", kFalse, 0);
    return 0;
  }

  uint32_t count = 0;
  if (instrument::expectsRawBlock(command)) {
    // A memory dump is binary: no delimiter, and a pause in the stream ends it.
    m_comm.m_stopDelimiter = -1;
    m_comm.m_readTimeout = kRawBlockReadTimeoutMs;
    m_comm.readBufferFromPort(answer, count, capacity);
    m_comm.m_stopDelimiter = kLineFeed;
    m_comm.m_readTimeout = kSessionReadTimeoutMs;
  } else if (!m_comm.readStringFromPort(answer, count, capacity)) {
    answer[0] = '\0';
    traceLeave(scope, "%s {noOfReadBytes=%d}", kFalse, 0);
    return 0;
  }
  return acceptAnswer(scope, answer, count, capacity, length);
}

int32_t CZel::queryCommand(const char* query, char* answer, uint32_t& length, uint32_t capacity) {
  TraceScope scope(&m_trace, "queryCommand: ", "%s",
                   instrument::printable(query ? query : "").c_str());
  uint32_t count = 0;
  const bool ok = answer != nullptr && capacity > 0 && sendCommand(query) &&
                  m_comm.readStringFromPort(answer, count, capacity) != 0;
  if (!ok) {
    if (answer != nullptr) answer[0] = '\0';
    length = 0;
    traceLeave(scope, "%s {noOfReadBytes=%d}", kFalse, 0);
    return 0;
  }
  return acceptAnswer(scope, answer, count, capacity, length);
}

int32_t CZel::writeLineFeedToTerminateLastCommand() {
  TraceScope scope(&m_trace, "writeLineFeedToTerminateLastCommand");
  if (!m_comm.isOpen()) {
    traceLeave(scope, "%s", kFalse);
    return 0;
  }
  // An XON releases an instrument that holds its output, the CR LF ends any command it
  // has half received, so that the next command starts on a fresh line.
  platform::sleepMs(kLineFeedPauseMs);
  m_comm.writeStringToPort("\x11");
  platform::sleepMs(kLineFeedPauseMs);
  const int sent = m_comm.writeStringToPort("\r\n");
  platform::sleepMs(kLineFeedPauseMs);
  traceLeave(scope, "%s", sent ? kTrue : kFalse);
  return sent ? 1 : 0;
}

int32_t CZel::rdSystErr(int32_t& number, std::string& text) {
  TraceScope scope(&m_trace, "rdSystErr");
  number = -1;
  text = "Error";
  char answer[kZelAnswerCapacity + 1];
  uint32_t length = 0;
  bool both = false;
  if (queryCommand(kCmdSystErrProbe, answer, length, kZelAnswerCapacity)) {
    const instrument::ErrorQueueScan scan =
        instrument::scanErrorQueueAnswer(std::string_view(answer, length));
    if (scan.numberScanned) number = scan.number;
    if (scan.textScanned) text = scan.text;
    both = scan.numberScanned && scan.textScanned;
  }
  traceLeave(scope, "%s {value=%d, strValue=<%s>}", both ? kTrue : kFalse, number,
             instrument::printable(text).c_str());
  return both ? 1 : 0;
}

int32_t CZel::autoConnect() {
  TraceScope scope(&m_trace, "autoConnect");
  m_comm.m_stopDelimiter = kLineFeed;
  const int32_t rememberedReadTimeout = m_comm.m_readTimeout;
  m_comm.m_handshake = kProbeHandshake;

  bool found = false;
  bool stop = false;
  for (const int32_t dataBits : kProbeDataBits) {
    for (const int32_t parity : kProbeParities) {
      for (const ProbeRate& rate : kProbeRates) {
        m_comm.m_dataBits = dataBits;
        m_comm.m_parity = parity;
        m_comm.m_baudRate = rate.baudRate;
        m_comm.m_readTimeout = rate.readTimeoutMs;
        // Cancel and an unusable port end the search at once: no other probe can do better.
        if (pumpMessages() != 0) {
          stop = true;
          break;
        }
        if (m_comm.isOpen()) m_comm.close();
        if (m_comm.open() != 0) {
          stop = true;
          break;
        }
        writeLineFeedToTerminateLastCommand();
        int32_t number = 0;
        std::string text;
        if (rdSystErr(number, text)) {
          found = true;
          break;
        }
      }
      if (found || stop) break;
    }
    if (found || stop) break;
  }

  if (found) {
    // Empties the next entry too, so that later queries start from a clean error queue.
    int32_t number = 0;
    std::string text;
    rdSystErr(number, text);
    m_comm.m_readTimeout = rememberedReadTimeout;
    traceLeave(scope, "%s", kTrue);
    return 1;
  }
  if (m_comm.isOpen()) m_comm.close();
  traceError(scope, "no device found");
  m_comm.m_readTimeout = rememberedReadTimeout;
  traceLeave(scope, "%s", kFalse);
  return 0;
}

bool CZel::querySetting(const char* query, char* field) {
  char answer[kZelSettingTextCapacity + 1];
  uint32_t length = 0;
  if (!queryCommand(query, answer, length, kZelSettingTextCapacity)) return false;
  std::memcpy(field, answer, length + 1);
  return true;
}

int32_t CZel::getRs232Parameter() {
  struct SettingQuery {
    const char* query;
    char* field;
  };
  const SettingQuery queries[] = {
      {"SYST:COMM:SER:PACE?\r\n", m_paceText},     {"SYST:COMM:SER:BAUD?\r\n", m_baudText},
      {"SYST:COMM:SER:SBIT?\r\n", m_stopBitsText}, {"SYST:COMM:SER:BITS?\r\n", m_dataBitsText},
      {"SYST:COMM:SER:PARITY?\r\n", m_parityText},
  };
  const size_t count = sizeof queries / sizeof queries[0];
  for (size_t i = 0; i < count; ++i) {
    if (!querySetting(queries[i].query, queries[i].field)) return 1;
    if (i + 1 < count) platform::sleepMs(kSettingQueryPauseMs);
  }
  return 0;
}

int32_t CZel::setRs232Parameter() {
  int32_t value = 0;
  if (!sendSetting("SYST:COMM:SER:PACE %s\r\n", m_paceText)) return 1;
  if (lookUpSetting(kPaceSettings, m_paceText, value)) {
    m_comm.m_handshake = value;
    open();
  }
  if (!sendSetting("SYST:COMM:SER:PARITY %s\r\n", m_parityText)) return 1;
  if (lookUpSetting(kParitySettings, m_parityText, value)) {
    m_comm.m_parity = value;
    open();
  }
  if (!sendSetting("SYST:COMM:SER:BAUD %s\r\n", m_baudText)) return 1;
  if (lookUpSetting(kBaudSettings, m_baudText, value)) {
    m_comm.m_baudRate = value;
    open();
  }
  return 0;
}

int32_t CZel::setDefaultRs232Parameter() {
  for (const DefaultStep& step : kDefaultSteps) {
    if (!sendCommand(step.command)) return 1;
    m_comm.*step.field = step.value;
    close();
    open();
    platform::sleepMs(kDefaultSettingPauseMs);
  }
  return 0;
}
