#include "serial/win32/win32_device.h"

#include <cctype>
#include <utility>

#include "platform/clock.h"

namespace serial {
namespace {

// An empty read waits this long for a byte (ReadTotalTimeoutConstant).
constexpr uint32_t kReadWaitMs = 100;
// Under the virtual clock an empty read looks at the driver for a moment of real time
// (bytes already on their way), then counts its full 100 ms on the virtual clock.
constexpr uint32_t kVirtualReadWaitMs = 1;
// The write time-out: per byte and constant part.
constexpr uint32_t kWriteMsPerByte = 20;
constexpr uint32_t kWriteConstantMs = 1000;
// drain(): the queued bytes may take twice their line time, plus this much for the
// buffering of a USB adapter; the queue is looked at again after this pause.
constexpr uint64_t kDrainLineTimeFactor = 2;
constexpr uint64_t kDrainMarginMs = 50;
constexpr uint32_t kDrainPollMs = 1;

bool virtualTime() {
  return dynamic_cast<platform::VirtualClock*>(&platform::clock()) != nullptr;
}

// Errors after which the port is gone for good (USB adapter pulled, driver unloaded).
bool portGone(uint32_t error) {
  switch (error) {
    case comm_error::kFileNotFound:
    case comm_error::kAccessDenied:
    case comm_error::kInvalidHandle:
    case comm_error::kBadCommand:
    case comm_error::kGenFailure:
    case comm_error::kDeviceNotConnected:
    case comm_error::kDeviceRemoved:
      return true;
    default:
      return false;
  }
}

uint8_t lineControlValue(LineControl control) {
  return static_cast<uint8_t>(control);
}

LineControl lineControlOf(uint8_t value) {
  switch (value) {
    case kDtrControlDisable:
      return LineControl::Off;
    case kDtrControlHandshake:
      return LineControl::Handshake;
    default:  // enable; RTS toggle (RTS on while sending) is closest to on
      return LineControl::On;
  }
}

// The slowest standard rate: a driver that reports less (0) is taken to run at this one.
constexpr uint64_t kSlowestBaud = 110;

// Milliseconds `bytes` characters take on the line, rounded up.
uint64_t lineTimeMs(const LineSettings& settings, uint64_t bytes) {
  LineSettings line = settings;
  if (line.baudRate < kSlowestBaud) line.baudRate = kSlowestBaud;
  return (bytes * characterMicros(line) + 999) / 1000;
}

}  // namespace

std::string win32DevicePath(const std::string& name) {
  if (name.size() < 4) return name;
  for (size_t i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return name;
  }
  for (size_t i = 3; i < name.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return name;
  }
  return "\\\\.\\" + name;
}

CommDcb dcbFromLineSettings(const LineSettings& settings) {
  CommDcb dcb;
  dcb.BaudRate = settings.baudRate;
  dcb.fBinary = settings.binary;
  dcb.fParity = settings.parityCheck;
  dcb.fOutxCtsFlow = settings.outxCtsFlow;
  dcb.fOutxDsrFlow = settings.outxDsrFlow;
  dcb.fDtrControl = lineControlValue(settings.dtrControl);
  dcb.fRtsControl = lineControlValue(settings.rtsControl);
  dcb.fOutX = settings.outX;
  dcb.fInX = settings.inX;
  dcb.fAbortOnError = false;
  dcb.XonLim = settings.xonLim;
  dcb.XoffLim = settings.xoffLim;
  dcb.ByteSize = settings.dataBits;
  dcb.Parity = static_cast<uint8_t>(settings.parity);
  dcb.StopBits = static_cast<uint8_t>(settings.stopBits);
  dcb.XonChar = settings.xonChar;
  dcb.XoffChar = settings.xoffChar;
  return dcb;
}

LineSettings lineSettingsFromDcb(const CommDcb& dcb) {
  LineSettings settings;
  settings.baudRate = dcb.BaudRate;
  settings.binary = dcb.fBinary;
  settings.dataBits = dcb.ByteSize;
  settings.parityCheck = dcb.fParity;
  switch (dcb.Parity) {
    case kOddParity:
      settings.parity = Parity::Odd;
      break;
    case kEvenParity:
      settings.parity = Parity::Even;
      break;
    default:
      settings.parity = Parity::None;
      break;
  }
  settings.stopBits = dcb.StopBits == kOne5StopBits  ? StopBits::OneAndHalf
                      : dcb.StopBits == kTwoStopBits ? StopBits::Two
                                                     : StopBits::One;
  settings.outxCtsFlow = dcb.fOutxCtsFlow;
  settings.outxDsrFlow = dcb.fOutxDsrFlow;
  settings.dtrControl = lineControlOf(dcb.fDtrControl);
  settings.rtsControl = lineControlOf(dcb.fRtsControl);
  settings.outX = dcb.fOutX;
  settings.inX = dcb.fInX;
  settings.xonChar = dcb.XonChar;
  settings.xoffChar = dcb.XoffChar;
  settings.xonLim = dcb.XonLim;
  settings.xoffLim = dcb.XoffLim;
  return settings;
}

Win32SerialDevice::Win32SerialDevice(std::string name, std::unique_ptr<CommApi> api)
    : m_path(win32DevicePath(name)), m_api(std::move(api)) {}

Win32SerialDevice::~Win32SerialDevice() {
  close();
}

ProbeResult Win32SerialDevice::probe(const std::string& name, CommApi& api) {
  // Without access rights a free port opens; a taken one refuses, as does one this user
  // may not use (access denied, like a port of another group on Linux).
  if (api.createFile(win32DevicePath(name), CommApi::Access::None)) {
    api.closeHandle();
    return ProbeResult::Free;
  }
  const uint32_t error = api.lastError();
  if (error == comm_error::kAccessDenied || error == comm_error::kSharingViolation) {
    return ProbeResult::InUse;
  }
  return ProbeResult::Absent;
}

std::string Win32SerialDevice::explainAccess(const std::string& name, CommApi& api) {
  if (api.createFile(win32DevicePath(name), CommApi::Access::None)) {
    api.closeHandle();
    return std::string();
  }
  const uint32_t error = api.lastError();
  switch (error) {
    case comm_error::kSharingViolation:
      return "in use by another program";
    case comm_error::kAccessDenied:
      // Serial drivers refuse a second open with this code: nearly always another program
      // (a terminal, another run) holds the port; rarely the port's rights keep this user out.
      return "access denied: in use by another program (a terminal program, another "
             "zelupdate), or this user has no rights to the port";
    case comm_error::kFileNotFound:
    case comm_error::kPathNotFound:
      return "no such device";
    case comm_error::kGenFailure:
    case comm_error::kBadCommand:
    case comm_error::kDeviceNotConnected:
    case comm_error::kDeviceRemoved:
      return "the device does not respond (adapter unplugged, or its driver failed: "
             "replug the adapter) (error " +
             std::to_string(error) + ")";
    default:
      return "cannot be opened (Windows error " + std::to_string(error) + ")";
  }
}

bool Win32SerialDevice::openImpl() {
  m_disconnected = false;
  if (!m_api->createFile(m_path, CommApi::Access::ReadWrite)) return false;
  m_open = true;
  // No event notification is used.
  m_api->setCommMask(0);
  // The read and write contract of the interface. A port that refuses the time-outs would
  // wait for ever on an empty read, so it is not used.
  CommTimeouts timeouts;
  timeouts.ReadIntervalTimeout = kMaxDword;
  timeouts.ReadTotalTimeoutMultiplier = kMaxDword;
  timeouts.ReadTotalTimeoutConstant = virtualTime() ? kVirtualReadWaitMs : kReadWaitMs;
  timeouts.WriteTotalTimeoutMultiplier = kWriteMsPerByte;
  timeouts.WriteTotalTimeoutConstant = kWriteConstantMs;
  if (!m_api->setCommTimeouts(timeouts)) {
    close();
    return false;
  }
  CommDcb dcb;
  if (m_api->getCommState(dcb)) m_settings = lineSettingsFromDcb(dcb);
  return true;
}

void Win32SerialDevice::closeImpl() {
  m_api->closeHandle();
  m_open = false;
  m_disconnected = false;
}

bool Win32SerialDevice::recover() {
  const uint32_t error = m_api->lastError();
  if (error == comm_error::kOperationAborted) {
    uint32_t errors = 0;
    CommStat stat;
    return m_api->clearCommError(errors, stat);
  }
  if (portGone(error)) m_disconnected = true;
  return false;
}

bool Win32SerialDevice::setQueueSizesImpl(uint32_t inputBytes, uint32_t outputBytes) {
  if (m_disconnected) return false;
  return m_api->setupComm(inputBytes, outputBytes);
}

bool Win32SerialDevice::purgeImpl(bool input, bool output) {
  // A port that went away has nothing left to discard.
  if (m_disconnected || (!input && !output)) return true;
  uint32_t flags = 0;
  if (input) flags |= kPurgeRxAbort | kPurgeRxClear;
  if (output) flags |= kPurgeTxAbort | kPurgeTxClear;
  if (m_api->purgeComm(flags)) return true;
  recover();
  return m_disconnected;
}

bool Win32SerialDevice::getSettingsImpl(LineSettings& settings) {
  CommDcb dcb;
  if (!m_api->getCommState(dcb)) {
    recover();
    return false;
  }
  m_settings = lineSettingsFromDcb(dcb);
  settings = m_settings;
  return true;
}

bool Win32SerialDevice::setSettingsImpl(const LineSettings& settings) {
  if (m_disconnected) return false;
  // Refused before the driver sees them: values a DCB cannot carry.
  const bool valid = settings.baudRate > 0 && settings.dataBits >= 5 && settings.dataBits <= 8 &&
                     settings.parity <= Parity::Even && settings.stopBits <= StopBits::Two &&
                     settings.dtrControl <= LineControl::Handshake &&
                     settings.rtsControl <= LineControl::Handshake;
  if (!valid) return false;
  if (!m_api->setCommState(dcbFromLineSettings(settings))) {
    recover();
    return false;
  }
  m_settings = settings;
  return true;
}

ReadResult Win32SerialDevice::readByteImpl(uint8_t& byte) {
  const bool virtualClock = virtualTime();
  if (!m_disconnected) {
    // A second try only after a line error that has been cleared.
    for (int attempt = 0; attempt < 2; ++attempt) {
      uint32_t got = 0;
      if (m_api->readFile(&byte, 1, got)) {
        if (got == 1) return ReadResult::Byte;
        if (virtualClock) platform::clock().sleepMicros(uint64_t{kReadWaitMs} * 1000);
        return ReadResult::Empty;
      }
      if (!recover()) break;
    }
  }
  // The port failed or went away: the read still lasts as long as an empty one, so that a
  // caller's time-out counts and a dead port costs no CPU.
  if (virtualClock) {
    platform::clock().sleepMicros(uint64_t{kReadWaitMs} * 1000);
  } else {
    m_api->sleepMs(kReadWaitMs);
  }
  return ReadResult::Empty;
}

bool Win32SerialDevice::writeImpl(const uint8_t* data, uint32_t size, uint32_t& written) {
  if (m_disconnected) return false;
  if (size == 0) return true;
  if (data == nullptr) return false;
  for (int attempt = 0; attempt < 2; ++attempt) {
    uint32_t sent = 0;
    const bool ok = m_api->writeFile(data + written, size - written, sent);
    written += sent <= size - written ? sent : size - written;
    // A write that timed out (flow control held it) reports success with what went out.
    if (ok) return true;
    if (!recover()) return false;
  }
  return false;
}

bool Win32SerialDevice::status(CommStat& stat) {
  uint32_t errors = 0;
  if (m_api->clearCommError(errors, stat)) return true;
  recover();
  return false;
}

bool Win32SerialDevice::drainImpl() {
  if (m_disconnected) return false;
  CommStat stat;
  if (!status(stat)) return false;
  // FlushFileBuffers waits without a bound (for ever on a line held by CTS), so it is only
  // called once the driver's queue is empty.
  const uint64_t deadline = m_api->tickMs() +
                            kDrainLineTimeFactor * lineTimeMs(m_settings, stat.cbOutQue) +
                            kDrainMarginMs;
  while (stat.cbOutQue > 0) {
    if (m_api->tickMs() >= deadline) return false;
    m_api->sleepMs(kDrainPollMs);
    if (!status(stat)) return false;
  }
  if (m_api->flushFileBuffers()) return true;
  recover();
  return false;
}

bool Win32SerialDevice::outputHeldImpl(bool& held) {
  if (m_disconnected) return false;
  CommStat stat;
  if (!status(stat)) return false;
  held = stat.fCtsHold || stat.fDsrHold || stat.fXoffHold;
  return true;
}

bool Win32SerialDevice::modemStatusImpl(bool& cts, bool& dsr) {
  if (m_disconnected) return false;
  uint32_t lines = 0;
  if (!m_api->getCommModemStatus(lines)) {
    recover();
    return false;
  }
  cts = (lines & kMsCtsOn) != 0;
  dsr = (lines & kMsDsrOn) != 0;
  return true;
}

bool Win32SerialDevice::setRtsImpl() {
  return !m_disconnected && m_api->escapeCommFunction(kSetRts);
}

bool Win32SerialDevice::setDtrImpl() {
  return !m_disconnected && m_api->escapeCommFunction(kSetDtr);
}

bool Win32SerialDevice::clearDtrImpl() {
  return !m_disconnected && m_api->escapeCommFunction(kClrDtr);
}

}  // namespace serial
