#include "serial/comm.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/clock.h"
#include "run/run_state.h"
#include "serial/com_ports.h"
#include "serial/device_factory.h"

namespace {

// open(): a port that the probe reports free but that refuses to open is tried this many
// times, with a pause after every failed attempt (the last one included).
constexpr int kOpenAttempts = 6;
constexpr uint32_t kOpenRetryPauseMs = 500;

// Driver queue sizes requested at open().
constexpr uint32_t kInputQueueBytes = 32000;
constexpr uint32_t kOutputQueueBytes = 5072;

constexpr uint8_t kXonChar = 0x11;
constexpr uint8_t kXoffChar = 0x13;
constexpr uint16_t kXonLimit = 100;
constexpr uint16_t kXoffLimit = 100;

// writeBufferToPort(): m_writeTimeout / kWriteStepMs gives both the number of write attempts
// and the number of kWriteStepMs pauses spent waiting for a held line.
constexpr int32_t kWriteStepMs = 10;

// A device read that fails outright (the device broke down) returns at once; the read loop
// pauses this long instead, as long as an empty read lasts, so the time-out still counts.
constexpr uint32_t kFailedReadPauseMs = 100;

// writeStringToPort() formats into a buffer of this size (text plus terminating NUL); a
// longer text gets a buffer of its own size.
constexpr int kFormatBufferSize = 1024;

constexpr const char* kTrue = "TRUE";
constexpr const char* kFalse = "FALSE";

// The flow-control part of the line settings for each handshake index.
struct HandshakeMode {
  bool outxCtsFlow;
  bool outxDsrFlow;
  serial::LineControl dtrControl;
  serial::LineControl rtsControl;
  bool outX;
  bool inX;
};

constexpr serial::LineControl kOn = serial::LineControl::On;
constexpr serial::LineControl kHandshake = serial::LineControl::Handshake;

constexpr HandshakeMode kHandshakeModes[] = {
    {false, false, kOn, kOn, false, false},        // 0 none
    {true, false, kOn, kHandshake, false, false},  // 1 RTS/CTS
    {false, false, kOn, kOn, true, true},          // 2 XON/XOFF
    {false, true, kHandshake, kOn, false, false},  // 3 DTR/DSR
    {false, true, kHandshake, kOn, true, false},   // 4 DTR/DSR, XON/XOFF on output only
};
constexpr int32_t kHandshakeModeCount =
    static_cast<int32_t>(sizeof kHandshakeModes / sizeof kHandshakeModes[0]);

// The stop delimiter as the byte that is compared; false when no delimiter is set.
bool stopDelimiterByte(int32_t stopDelimiter, uint8_t& byte) {
  if (stopDelimiter == -1) return false;
  byte = static_cast<uint8_t>(stopDelimiter & 0xFF);
  return true;
}

// Milliseconds since a tick count was taken (the tick count wraps like a system tick count).
uint32_t msSince(uint32_t startTick) {
  return platform::tickCount() - startTick;
}

bool inactivityExpired(uint32_t startTick, int32_t readTimeoutMs) {
  const uint32_t limit = readTimeoutMs > 0 ? static_cast<uint32_t>(readTimeoutMs) : 0;
  return msSince(startTick) >= limit;
}

// Bits of a character at most: start, 8 data, parity and 2 stop bits.
constexpr uint64_t kMaxBitsPerCharacter = 12;
constexpr uint64_t kSlowestBaud = 110;

// The whole of a text line, counted from its first byte: the time-out plus the time that
// an answer of size characters and its line end take at the port's speed. Bytes that are
// dropped (blanks, control bytes) restart the time-out between bytes but not this bound, so
// a stream of them cannot keep the read going.
uint32_t lineBoundMs(int32_t readTimeoutMs, int32_t baudRate, uint32_t size) {
  const uint64_t baud = std::max<uint64_t>(baudRate > 0 ? baudRate : 0, kSlowestBaud);
  const uint64_t lineMs = (uint64_t{size} + 2) * kMaxBitsPerCharacter * 1000 / baud + 1;
  const uint64_t timeout = readTimeoutMs > 0 ? static_cast<uint64_t>(readTimeoutMs) : 0;
  return static_cast<uint32_t>(std::min<uint64_t>(timeout + lineMs, 0xFFFFFFFFu));
}

}  // namespace

CComm::~CComm() = default;

int CComm::checkCommExisting(int32_t portNo, serial::PortFailure* failure) {
  TraceScope scope(&m_trace, "checkCommExisting");
  if (failure) *failure = serial::PortFailure::None;
  const std::string device = serial::comPortDevice(portNo);
  if (device.empty()) return -1;
  switch (probeSerialDevice(device, failure)) {
    case serial::ProbeResult::Free:
      return 0;
    case serial::ProbeResult::InUse:
      return 1;
    case serial::ProbeResult::Absent:
      return -1;
  }
  return -1;
}

int CComm::open() {
  TraceScope scope(&m_trace, "open");
  traceInfo(scope, "portno=%d", m_portNo);

  if (isOpen()) close();

  std::unique_ptr<serial::SerialDevice> device = openDevice();
  if (!device) {
    traceError(scope, "CreateFile failed");
    traceLeave(scope, "%s", kTrue);
    return 1;
  }
  m_port = std::move(device);

  // No event notification is used, so there is no event mask to clear. The read and write
  // time-outs are the device's own contract (an empty read returns after 100 ms, a write
  // within 20 ms per byte + 1000 ms).
  m_port->setQueueSizes(kInputQueueBytes, kOutputQueueBytes);
  m_port->purge(true, true);

  if (!m_port->getSettings(m_lineSettings)) {
    traceError(scope, "GetCommState failed");
    traceLeave(scope, "%s", kTrue);
    return 1;
  }

  serial::LineSettings wanted = m_lineSettings;
  if (!buildSettings(wanted)) {
    traceError(scope, "unknown m_handshake index");
    return 1;
  }
  // Values that the portable settings cannot carry are refused as the driver would refuse them.
  const bool representable =
      m_baudRate > 0 && m_dataBits >= 5 && m_dataBits <= 8 && m_stopBits >= 0 && m_stopBits <= 2;
  if (!representable || !m_port->setSettings(wanted)) {
    traceError(scope, "SetCommState failed");
    return 1;
  }
  m_lineSettings = wanted;
  return 0;
}

std::unique_ptr<serial::SerialDevice> CComm::openDevice() {
  // Only a port that the probe reports free is opened; one that exists but refuses is
  // retried, one in use or absent is not tried at all.
  if (checkCommExisting(m_portNo, &m_openFailure) != 0) return nullptr;
  const std::string name = serial::comPortDevice(m_portNo);
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    std::unique_ptr<serial::SerialDevice> candidate = createSerialDevice(name);
    if (candidate && candidate->open()) {
      m_openFailure = serial::PortFailure::None;
      return candidate;
    }
    // The last attempt's cause stands.
    if (candidate) m_openFailure = candidate->openFailure();
    platform::sleepMs(kOpenRetryPauseMs);
    if (waitAbandoned()) break;
  }
  return nullptr;
}

bool CComm::buildSettings(serial::LineSettings& wanted) const {
  wanted.baudRate = static_cast<uint32_t>(m_baudRate);
  wanted.binary = true;
  wanted.dataBits = static_cast<uint8_t>(m_dataBits);
  switch (m_parity) {
    case 1:
      wanted.parity = serial::Parity::Odd;
      wanted.parityCheck = true;
      break;
    case 2:
      wanted.parity = serial::Parity::Even;
      wanted.parityCheck = true;
      break;
    default:
      wanted.parity = serial::Parity::None;
      wanted.parityCheck = false;
      break;
  }
  wanted.stopBits = static_cast<serial::StopBits>(m_stopBits);
  wanted.xonChar = kXonChar;
  wanted.xoffChar = kXoffChar;
  wanted.xonLim = kXonLimit;
  wanted.xoffLim = kXoffLimit;

  if (m_handshake < 0 || m_handshake >= kHandshakeModeCount) return false;
  const HandshakeMode& mode = kHandshakeModes[m_handshake];
  wanted.outxCtsFlow = mode.outxCtsFlow;
  wanted.outxDsrFlow = mode.outxDsrFlow;
  wanted.dtrControl = mode.dtrControl;
  wanted.rtsControl = mode.rtsControl;
  wanted.outX = mode.outX;
  wanted.inX = mode.inX;
  return true;
}

void CComm::close() {
  TraceScope scope(&m_trace, "close");
  if (!isOpen()) {
    traceLeave(scope, "not open");
    return;
  }
  m_port->clearDtr();
  m_port->purge(true, true);
  m_port->close();
  m_port.reset();
  traceLeave(scope, "close ok");
}

int CComm::writeBufferToPort(const void* data, uint32_t size) {
  TraceScope scope(&m_trace, "writeBufferToPort", "size=%lu", static_cast<unsigned long>(size));
  if (!isOpen()) {
    traceError(scope, "port not open");
    traceLeave(scope, "%s", kFalse);
    return 0;
  }
  if (data == nullptr || size == 0) {
    traceError(scope, "data to write = NULL");
    traceLeave(scope, "%s", kFalse);
    return 0;
  }

  // One budget bounds both the platform write calls and the 10 ms waits for a held line;
  // the waits are shared by all attempts and not renewed.
  const int32_t attempts = m_writeTimeout / kWriteStepMs;
  int32_t waitBudget = attempts;
  const uint8_t* rest = static_cast<const uint8_t*>(data);
  uint32_t remaining = size;
  bool sent = false;

  for (int32_t attempt = 0; attempt < attempts; ++attempt) {
    bool held = false;
    m_port->outputHeld(held);
    bool abandoned = false;
    while (held && waitBudget > 0 && !abandoned) {
      platform::sleepMs(kWriteStepMs);
      m_port->outputHeld(held);
      --waitBudget;
      abandoned = waitAbandoned();
    }
    if (abandoned) {
      traceError(scope, "wait abandoned");
      break;
    }
    if (held) continue;

    uint32_t written = 0;
    const bool callOk = m_port->write(rest, remaining, written);
    if (!callOk) {
      traceError(scope, "WriteFile in writeBufferToPort");
      traceLeave(scope, "%s", kFalse);
    }
    // Bytes that went out are never sent a second time, whatever the call reported.
    if (written > remaining) written = remaining;
    rest += written;
    remaining -= written;
    if (remaining == 0) {
      m_port->drain();
      m_port->outputHeld(held);
      sent = true;
      break;
    }
  }

  if (!sent) m_port->purge(false, true);
  m_port->drain();
  traceLeave(scope, "%s", sent ? kTrue : kFalse);
  if (!sent) return 0;
  bytesSent += size;
  return 1;
}

int CComm::writeStringToPort(const char* format, ...) {
  char text[kFormatBufferSize];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (length < 0) {
    va_end(again);
    return 0;
  }
  if (length < kFormatBufferSize) {
    va_end(again);
    return writeBufferToPort(text, static_cast<uint32_t>(length));
  }
  // A longer text is formatted again into a buffer of its size and sent whole: a cut
  // command could make the instrument do something else than the whole one.
  std::string longText(static_cast<size_t>(length) + 1, '\0');
  std::vsnprintf(longText.data(), longText.size(), format, again);
  va_end(again);
  return writeBufferToPort(longText.data(), static_cast<uint32_t>(length));
}

int CComm::readBufferFromPort(void* buffer, uint32_t& count, uint32_t size) {
  TraceScope scope(&m_trace, "readBufferFromPort", "size=%lu", static_cast<unsigned long>(size));
  if (!isOpen()) {
    traceError(scope, "port not open");
    traceLeave(scope, "%s", kTrue);
    return 1;
  }
  count = 0;
  if (buffer == nullptr || size == 0) {
    traceError(scope, "no room to read into");
    traceLeave(scope, "%s", kTrue);
    return 1;
  }

  uint8_t* bytes = static_cast<uint8_t*>(buffer);
  uint8_t delimiter = 0;
  const bool hasDelimiter = stopDelimiterByte(m_stopDelimiter, delimiter);
  uint32_t lastActivity = platform::tickCount();
  for (;;) {
    uint8_t byte = 0;
    const serial::ReadResult result = m_port->readByte(byte);
    if (result == serial::ReadResult::Byte) {
      // count < size holds here: the loop ends as soon as count reaches size.
      if (hasDelimiter && byte == delimiter) {
        if (count == 0) traceError(scope, "null bytes read, only StopDelimiter found");
        bytes[count++] = byte;
        traceLeave(scope, "%s {noOfReadBytes= %d}", kFalse, static_cast<int>(count));
        return 0;
      }
      bytes[count++] = byte;
      if (count >= size) {
        traceLeave(scope, "%s {noOfReadBytes= %d}", kFalse, static_cast<int>(count));
        return 0;
      }
      lastActivity = platform::tickCount();
    } else if (result == serial::ReadResult::Failed) {
      platform::sleepMs(kFailedReadPauseMs);
    }
    if (result != serial::ReadResult::Byte && waitAbandoned()) {
      traceError(scope, "wait abandoned");
      return 1;
    }
    if (inactivityExpired(lastActivity, m_readTimeout)) {
      traceError(scope, "timed out after %lu msecs", static_cast<unsigned long>(m_readTimeout));
      return 1;
    }
  }
}

int CComm::readStringFromPort(char* buffer, uint32_t& count, uint32_t size) {
  TraceScope scope(&m_trace, "readStringFromPort", "size=%lu", static_cast<unsigned long>(size));
  if (!isOpen()) {
    traceError(scope, "port not open");
    traceLeave(scope, "%s {noOfReadBytes= %d}", kFalse, static_cast<int>(count));
    return 0;
  }
  count = 0;
  if (buffer == nullptr || size == 0) {
    traceError(scope, "no room to read into");
    traceLeave(scope, "%s {noOfReadBytes= %d}", kFalse, static_cast<int>(count));
    return 0;
  }

  uint8_t delimiter = 0;
  const bool hasDelimiter = stopDelimiterByte(m_stopDelimiter, delimiter);
  bool started = false;
  uint32_t lastActivity = platform::tickCount();
  bool lineBegun = false;
  uint32_t lineStart = 0;
  const uint32_t lineBound = lineBoundMs(m_readTimeout, m_baudRate, size);
  for (;;) {
    uint8_t byte = 0;
    const serial::ReadResult result = m_port->readByte(byte);
    if (result == serial::ReadResult::Byte && !lineBegun) {
      lineBegun = true;
      lineStart = platform::tickCount();
    }
    if (result == serial::ReadResult::Byte) {
      // Signed, so that the bytes 0x80 to 0xFF count as control characters.
      const int8_t character = static_cast<int8_t>(byte);
      if (!started && character <= ' ') {
        // Blanks and control characters ahead of the answer are dropped silently.
      } else {
        started = true;
        if (hasDelimiter && byte == delimiter) {
          if (count != 0) {
            traceLeave(scope, "%s {noOfReadBytes= %d}", kTrue, static_cast<int>(count));
            return 1;
          }
          traceError(scope, "null bytes read and StopDelimiter found");
        } else if (character < ' ') {
          traceInfo(scope, "blankCharacter found %c", character);
        } else {
          buffer[count++] = static_cast<char>(byte);
          if (count >= size) {
            traceLeave(scope, "%s {noOfReadBytes= %d}", kTrue, static_cast<int>(count));
            return 1;
          }
        }
      }
      lastActivity = platform::tickCount();
    } else if (result == serial::ReadResult::Failed) {
      platform::sleepMs(kFailedReadPauseMs);
    }
    if (result != serial::ReadResult::Byte && waitAbandoned()) {
      traceError(scope, "wait abandoned");
      traceLeave(scope, "%s {noOfReadBytes= %d}", kFalse, static_cast<int>(count));
      return 0;
    }
    if (inactivityExpired(lastActivity, m_readTimeout)) {
      traceError(scope, "timed out after %lu msecs", static_cast<unsigned long>(m_readTimeout));
      traceLeave(scope, "%s {noOfReadBytes= %d}", kFalse, static_cast<int>(count));
      return 0;
    }
    if (lineBegun && msSince(lineStart) >= lineBound) {
      traceError(scope, "line not ended after %lu msecs", static_cast<unsigned long>(lineBound));
      traceLeave(scope, "%s {noOfReadBytes= %d}", kFalse, static_cast<int>(count));
      return 0;
    }
  }
}

int CComm::getCts(int32_t& state) {
  bool cts = false;
  bool dsr = false;
  const bool ok = isOpen() && m_port->modemStatus(cts, dsr);
  state = ok && cts ? 1 : 0;
  return ok ? 1 : 0;
}

int CComm::getDsr(int32_t& state) {
  bool cts = false;
  bool dsr = false;
  const bool ok = isOpen() && m_port->modemStatus(cts, dsr);
  state = ok && dsr ? 1 : 0;
  return ok ? 1 : 0;
}

int CComm::setRts() {
  return isOpen() && m_port->setRts() ? 1 : 0;
}

int CComm::setDtr() {
  return isOpen() && m_port->setDtr() ? 1 : 0;
}
