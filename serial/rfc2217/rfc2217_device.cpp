#include "serial/rfc2217/rfc2217_device.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

#include "platform/clock.h"
#include "serial/rfc2217/rfc2217_device_limits.h"

namespace serial {

using namespace rfc2217;

namespace {

uint8_t parityValue(Parity parity) {
  switch (parity) {
    case Parity::Odd:
      return kParityOdd;
    case Parity::Even:
      return kParityEven;
    default:
      return kParityNone;
  }
}

uint8_t stopSizeValue(StopBits stopBits) {
  switch (stopBits) {
    case StopBits::Two:
      return kStopSizeTwo;
    case StopBits::OneAndHalf:
      return kStopSizeOneAndHalf;
    default:
      return kStopSizeOne;
  }
}

}  // namespace

Rfc2217Device::Rfc2217Device(std::string deviceName) : m_name(std::move(deviceName)) {}

Rfc2217Device::~Rfc2217Device() {
  close();
}

bool Rfc2217Device::setQueueSizesImpl(uint32_t, uint32_t) {
  // The server's buffers have their own sizes; the input buffer here is large enough for
  // anything the port class reads as a block.
  return true;
}

bool Rfc2217Device::purgeImpl(bool input, bool output) {
  if (m_disconnected) return false;
  if (input) {
    m_input.clear();
    m_xoffReceived = false;
  }
  if (!input && !output) return true;
  const uint8_t what = input && output ? kPurgeBoth : (input ? kPurgeReceive : kPurgeTransmit);
  const int64_t deadline = monotonicMs() + kAnswerTimeoutMs;
  const uint32_t before = answerCount(kPurgeData);
  std::vector<uint8_t> out;
  appendComPort(out, kPurgeData, what);
  if (input) m_purgingInput = true;
  const bool answered = send(out, deadline) && awaitAnswer(kPurgeData, before, deadline);
  m_purgingInput = false;
  if (input) {
    m_input.clear();
  }
  return answered;
}

bool Rfc2217Device::getSettingsImpl(LineSettings& settings) {
  settings = m_settings;
  return true;
}

bool Rfc2217Device::setSettingsImpl(const LineSettings& settings) {
  if (m_disconnected) return false;
  if (settings.baudRate == 0 || settings.dataBits < 5 || settings.dataBits > 8) return false;
  // Bytes written before are sent at the settings they were written with: the server
  // changes its line at once, also under a character still being shifted out.
  const int64_t lineWaitMs = std::max<int64_t>((m_lineFreeAtUs - monotonicUs()) / 1000, 0);
  if (!flushOutput(monotonicMs() + kWriteConstantMs + lineWaitMs) ||
      !waitLineFree(monotonicMs() + kWriteConstantMs + lineWaitMs))
    return false;
  const int64_t deadline = monotonicMs() + kAnswerTimeoutMs;

  // Framing first, all four at once, each confirmed by its own answer.
  const uint8_t codes[4] = {kSetBaudRate, kSetDataSize, kSetParity, kSetStopSize};
  uint32_t before[4];
  for (size_t i = 0; i < 4; ++i) before[i] = answerCount(codes[i]);
  const uint8_t wanted[3] = {settings.dataBits, parityValue(settings.parity),
                             stopSizeValue(settings.stopBits)};
  std::vector<uint8_t> out;
  appendBaudRate(out, settings.baudRate);
  for (size_t i = 0; i < 3; ++i) appendComPort(out, codes[i + 1], wanted[i]);
  if (!send(out, deadline)) return false;
  for (size_t i = 0; i < 4; ++i) {
    if (!awaitAnswer(codes[i], before[i], deadline)) return false;
  }
  if (baudRateValue(answerValue(kSetBaudRate)) != settings.baudRate) return false;
  for (size_t i = 0; i < 3; ++i) {
    const std::vector<uint8_t>& value = answerValue(codes[i + 1]);
    if (value.size() != 1 || value[0] != wanted[i]) return false;
  }

  // Flow control. Outbound: RTS/CTS is the server's; XON/XOFF and DSR are done here, so
  // the server sends without flow control of its own. Inbound: the server asks the
  // instrument to pause when its buffer runs full; any answer will do (see the header).
  const uint8_t outbound = settings.outxCtsFlow ? kControlOutboundHardware : kControlOutboundNone;
  uint8_t answer = 0;
  if (!control(outbound, deadline, answer) || answer != outbound) return false;
  const uint8_t inbound =
      settings.inX ? kControlInboundXonXoff
                   : (settings.rtsControl == LineControl::Handshake ? kControlInboundHardware
                                                                    : kControlInboundNone);
  if (!control(inbound, deadline, answer)) return false;

  m_settings = settings;
  if (!settings.outX) m_xoffReceived = false;
  // The output lines take their state at once. On/Handshake raise them, as on a local port;
  // with hardware flow control the server drives RTS itself.
  modemLine(settings.dtrControl != LineControl::Off ? kControlDtrOn : kControlDtrOff,
            kModemLineAnswerMs);
  if (settings.rtsControl != LineControl::Handshake) {
    modemLine(settings.rtsControl == LineControl::On ? kControlRtsOn : kControlRtsOff,
              kModemLineAnswerMs);
  }
  return !m_disconnected;
}

ReadResult Rfc2217Device::readByteImpl(uint8_t& byte) {
  if (m_input.empty() && !m_disconnected) pump(0);
  if (m_input.empty()) {
    const bool virtualTime = dynamic_cast<platform::VirtualClock*>(&platform::clock()) != nullptr;
    const int64_t deadline = monotonicMs() + (virtualTime ? kVirtualReadPollMs : kReadPollMs);
    while (m_input.empty()) {
      const int wait = remainingMs(deadline);
      if (wait <= 0) break;
      // A dead connection turns the rest of the wait into a plain pause.
      if (m_disconnected || !pump(wait))
        std::this_thread::sleep_for(std::chrono::milliseconds(wait));
    }
    if (m_input.empty()) {
      if (virtualTime) platform::clock().sleepMicros(static_cast<uint64_t>(kReadPollMs) * 1000);
      return ReadResult::Empty;
    }
  }
  m_input.pop(byte);
  return ReadResult::Byte;
}

bool Rfc2217Device::heldNow() const {
  if (m_suspended) return true;
  if (m_settings.outX && m_xoffReceived) return true;
  if (m_modemLinesAbsent || !m_modemStateKnown) return false;
  const bool cts = (m_modemState & kModemCts) != 0;
  const bool dsr = (m_modemState & kModemDsr) != 0;
  return (m_settings.outxCtsFlow && !cts) || (m_settings.outxDsrFlow && !dsr);
}

bool Rfc2217Device::writeImpl(const uint8_t* data, uint32_t size, uint32_t& written) {
  if (m_disconnected) return false;
  if (size == 0) return true;
  if (data == nullptr) return false;
  const bool gated = m_settings.outX || m_settings.outxDsrFlow || m_settings.outxCtsFlow;
  const int64_t deadline =
      monotonicMs() + static_cast<int64_t>(size) * kWriteMsPerByte + kWriteConstantMs;
  const int64_t frame = characterMicros(m_settings);

  while (written < size) {
    if (remainingMs(deadline) <= 0) break;
    if (!pump(0)) return false;
    if (heldNow()) {
      pump(std::min(remainingMs(deadline), kHeldPollMs));
      if (m_disconnected) return false;
      continue;
    }
    uint32_t chunk = size - written;
    if (gated && chunk > kGatedChunkBytes) chunk = kGatedChunkBytes;
    std::vector<uint8_t> out;
    appendData(out, data + written, chunk, m_clientBinary);
    // Once handed over the bytes go out, even if the socket takes them only later: a byte
    // cut off half-way would break the stream.
    const bool sent = send(out, deadline);
    written += chunk;
    const int64_t now = monotonicUs();
    m_lineFreeAtUs = std::max(m_lineFreeAtUs, now) + static_cast<int64_t>(chunk) * frame;
    if (!sent) return !m_disconnected;
  }
  // Time is up: report what went out, like a write that timed out.
  return true;
}

bool Rfc2217Device::drainImpl() {
  if (m_disconnected) return false;
  const int pending = m_socket.unsentBytes();
  const int64_t lineWaitMs = (m_lineFreeAtUs - monotonicUs()) / 1000;
  const int64_t deadline =
      monotonicMs() + static_cast<int64_t>(pending + m_pendingOutput.size()) * kWriteMsPerByte +
      kWriteConstantMs + std::max<int64_t>(lineWaitMs, 0);
  return flushOutput(deadline) && waitLineFree(deadline);
}

bool Rfc2217Device::waitLineFree(int64_t deadlineMs) {
  const int64_t frame = characterMicros(m_settings);
  for (;;) {
    if (!m_socket.isOpen() || m_disconnected) return false;
    // Bytes still in the socket wait for room in the server's window: the server takes
    // them off its own line no faster than the line runs.
    const int unsent = m_socket.unsentBytes();
    const int64_t now = monotonicUs();
    const int64_t unsentUs = static_cast<int64_t>(unsent) * frame;
    if (unsent > 0) m_lineFreeAtUs = std::max(m_lineFreeAtUs, now + unsentUs);
    if (unsent == 0 && now >= m_lineFreeAtUs) return true;
    const int64_t leftUs = static_cast<int64_t>(remainingMs(deadlineMs)) * 1000;
    if (leftUs <= 0) return false;
    const int64_t waitUs = unsent > 0 ? unsentUs : m_lineFreeAtUs - now;
    if (!pumpMicros(std::min(waitUs, leftUs))) return false;
  }
}

bool Rfc2217Device::outputHeldImpl(bool& held) {
  if (m_disconnected) return false;
  if (!pump(0)) return false;
  held = heldNow();
  return true;
}

bool Rfc2217Device::modemStatusImpl(bool& cts, bool& dsr) {
  if (m_disconnected || m_modemLinesAbsent) return false;
  pump(0);
  const int64_t deadline = monotonicMs() + kModemStateWaitMs;
  while (!m_modemStateKnown) {
    const int wait = remainingMs(deadline);
    if (wait <= 0 || !pump(wait)) return false;
  }
  cts = (m_modemState & kModemCts) != 0;
  dsr = (m_modemState & kModemDsr) != 0;
  return true;
}

bool Rfc2217Device::setRtsImpl() {
  return modemLine(kControlRtsOn, kAnswerTimeoutMs);
}

bool Rfc2217Device::setDtrImpl() {
  return modemLine(kControlDtrOn, kAnswerTimeoutMs);
}

bool Rfc2217Device::clearDtrImpl() {
  return modemLine(kControlDtrOff, kAnswerTimeoutMs);
}

}  // namespace serial
