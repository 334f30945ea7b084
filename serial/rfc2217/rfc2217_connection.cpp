// The connection's life: the probe, the connection and its Telnet negotiation at an open,
// the end at a close, and the connection kept for the next open (the park).
#include <algorithm>
#include <utility>

#include "serial/rfc2217/rfc2217_device.h"
#include "serial/rfc2217/rfc2217_device_limits.h"
#include "serial/rfc2217/rfc2217_park.h"

namespace serial {

using namespace rfc2217;

ProbeResult Rfc2217Device::probe(const std::string& deviceName, PortFailure* failure) {
  PortFailure ignored = PortFailure::None;
  PortFailure& why = failure ? *failure : ignored;
  why = PortFailure::None;
  std::string host;
  uint16_t port = 0;
  if (!parseNetworkPortName(deviceName, host, port)) return ProbeResult::Absent;
  // A connection of our own, kept from a close, is the port waiting for us.
  if (ConnectionPark::shared().holds(deviceName)) return ProbeResult::Free;
  Socket socket = Socket::connect(host, port, kProbeConnectTimeoutMs, &why);
  if (!socket.isOpen()) return ProbeResult::Absent;
  // A server whose port is lent to another client accepts, may say why, and hangs up (or
  // refuses the COM-PORT-OPTION, as the open would find). One that serves us answers a
  // query of the baud rate (which changes nothing on its port): then the probe need not
  // wait out the drop window. A server that says nothing within the window is taken as
  // free, as before.
  std::vector<uint8_t> out;
  appendNegotiation(out, kWill, kOptionComPort);
  appendBaudRate(out, 0);
  socket.send(out.data(), out.size());
  ProbeResult result = ProbeResult::Free;
  TelnetDecoder decoder;
  bool answered = false;
  const int64_t deadline = monotonicMs() + kProbeDropWindowMs;
  while (!answered) {
    const int wait = remainingMs(deadline);
    if (wait <= 0) break;
    if (!socket.waitReadable(static_cast<int64_t>(wait) * 1000)) continue;
    uint8_t chunk[256];
    const int64_t got = socket.receive(chunk, sizeof chunk);
    if (got == 0) continue;
    if (got < 0) {
      result = ProbeResult::InUse;
      break;
    }
    TelnetDecoder::Output decoded;
    decoder.feed(chunk, static_cast<size_t>(got), decoded);
    for (const TelnetEvent& event : decoded.events) {
      if (event.kind == TelnetEvent::Kind::ComPort && event.code == kSetBaudRate + kServerOffset)
        answered = true;
      if (event.kind == TelnetEvent::Kind::Negotiation && event.verb == kDont &&
          event.option == kOptionComPort)
        result = ProbeResult::InUse;
    }
    if (result == ProbeResult::InUse) break;
  }
  if (result == ProbeResult::InUse) why = PortFailure::Busy;
  if (answered) {
    // A graceful end, so that the server has released its port when an open follows.
    socket.shutdownSend();
    const int64_t closeDeadline = monotonicMs() + kCloseWaitMs;
    for (;;) {
      const int wait = remainingMs(closeDeadline);
      if (wait <= 0) break;
      if (!socket.waitReadable(static_cast<int64_t>(wait) * 1000)) continue;
      uint8_t chunk[256];
      if (socket.receive(chunk, sizeof chunk) < 0) break;
    }
  }
  return result;
}

void Rfc2217Device::resetState() {
  m_disconnected = false;
  m_decoder.reset();
  m_comPortAccepted = false;
  m_comPortRefused = false;
  m_clientBinary = true;
  std::fill(std::begin(m_refusedOption), std::end(m_refusedOption), false);
  for (Answer& answer : m_answers) answer = Answer{};
  m_modemStateKnown = false;
  m_modemState = 0;
  m_modemLinesAbsent = false;
  m_modemLineAnswered = false;
  m_suspended = false;
  m_xoffReceived = false;
  m_purgingInput = false;
  m_settings = LineSettings{};
  m_lineFreeAtUs = 0;
  m_roundTripUs = 0;
  m_pendingOutput.clear();
  m_input.clear();
}

bool Rfc2217Device::openImpl() {
  resetState();
  m_openFailure = PortFailure::None;
  std::string host;
  uint16_t port = 0;
  if (!parseNetworkPortName(m_name, host, port)) return false;
  if (resume()) return true;
  Socket socket = Socket::connect(host, port, kConnectTimeoutMs, &m_openFailure);
  if (!socket.isOpen()) return false;
  // The programming link echoes byte by byte: every byte goes out at once.
  socket.setNoDelay();
  socket.setKeepAlive();
  m_socket = std::move(socket);
  m_socket.quickAck();
  if (!negotiate(monotonicMs() + kNegotiationTimeoutMs)) {
    // A server that hangs up or refuses the option serves another client; one that lets
    // the negotiation run out is no terminal server, or one that does not answer.
    const bool busy = m_disconnected || m_comPortRefused;
    m_openFailure = busy ? PortFailure::Busy : PortFailure::NoAnswer;
    m_socket.close();
    resetState();
    return false;
  }
  return true;
}

bool Rfc2217Device::negotiate(int64_t deadlineMs) {
  std::vector<uint8_t> out;
  appendNegotiation(out, kWill, kOptionBinary);
  appendNegotiation(out, kDo, kOptionBinary);
  appendNegotiation(out, kWill, kOptionSuppressGoAhead);
  appendNegotiation(out, kDo, kOptionSuppressGoAhead);
  appendNegotiation(out, kWill, kOptionComPort);
  if (!send(out, deadlineMs)) return false;
  while (!m_comPortAccepted) {
    if (m_comPortRefused || m_disconnected || remainingMs(deadlineMs) <= 0) return false;
    if (!pump(remainingMs(deadlineMs))) return false;
  }

  // What the port is set to now (the line settings that an open reads), the modem-state
  // notifications, and DTR and RTS raised as an open raises them.
  const uint32_t before[5] = {answerCount(kSetBaudRate), answerCount(kSetDataSize),
                              answerCount(kSetParity), answerCount(kSetStopSize),
                              answerCount(kSetModemStateMask) + answerCount(kNotifyModemState)};
  out.clear();
  appendBaudRate(out, 0);
  appendComPort(out, kSetDataSize, 0);
  appendComPort(out, kSetParity, 0);
  appendComPort(out, kSetStopSize, 0);
  appendComPort(out, kSetModemStateMask, kModemStateMask);
  // DTR and RTS are raised as an open raises them, and a second baud-rate query follows
  // them. A server answers in order: when that answer comes without theirs, its port has no
  // modem lines (a pseudo-terminal behind it), and no silence needs to be waited out.
  appendComPort(out, kSetControl, kControlDtrOn);
  appendComPort(out, kSetControl, kControlRtsOn);
  appendBaudRate(out, 0);
  const int64_t askedAtUs = monotonicUs();
  if (!send(out, deadlineMs)) return false;
  const uint8_t codes[4] = {kSetBaudRate, kSetDataSize, kSetParity, kSetStopSize};
  for (size_t i = 0; i < 4; ++i) {
    if (!awaitAnswer(codes[i], before[i], deadlineMs)) return false;
    if (i == 0) noteRoundTrip(askedAtUs);
  }
  if (!awaitAnswer(kSetBaudRate, before[0] + 1, deadlineMs)) return false;
  // The mask is confirmed by its own answer or by the notification that some servers send
  // in its place.
  while (answerCount(kSetModemStateMask) + answerCount(kNotifyModemState) == before[4]) {
    if (remainingMs(deadlineMs) <= 0 || !pump(remainingMs(deadlineMs))) return false;
  }
  if (!m_modemLineAnswered) m_modemLinesAbsent = true;
  if (const uint32_t baud = baudRateValue(answerValue(kSetBaudRate))) m_settings.baudRate = baud;
  if (answerValue(kSetDataSize).size() == 1) {
    const uint8_t size = answerValue(kSetDataSize)[0];
    if (size >= 5 && size <= 8) m_settings.dataBits = size;
  }
  if (answerValue(kSetParity).size() == 1) {
    const uint8_t parity = answerValue(kSetParity)[0];
    m_settings.parity =
        parity == kParityOdd ? Parity::Odd : (parity == kParityEven ? Parity::Even : Parity::None);
    m_settings.parityCheck = m_settings.parity != Parity::None;
  }
  if (answerValue(kSetStopSize).size() == 1) {
    const uint8_t stop = answerValue(kSetStopSize)[0];
    m_settings.stopBits =
        stop == kStopSizeTwo ? StopBits::Two
                             : (stop == kStopSizeOneAndHalf ? StopBits::OneAndHalf : StopBits::One);
  }
  return !m_disconnected;
}

void Rfc2217Device::closeImpl() {
  if (!m_disconnected && park()) return;
  // A graceful end: the server releases its port when it sees ours, and the port class
  // often opens again at once (new settings), which a server still holding the port for
  // the old connection would refuse. So wait, within a bound, for the server to close too.
  if (!m_disconnected) {
    flushOutput(monotonicMs() + kCloseWaitMs);
    m_socket.shutdownSend();
    const int64_t deadline = monotonicMs() + kCloseWaitMs;
    while (!m_disconnected && remainingMs(deadline) > 0) {
      m_input.clear();
      pump(remainingMs(deadline));
    }
  }
  m_socket.close();
  resetState();
}

bool Rfc2217Device::park() {
  // The lines drop as on a close; the port class has purged the server's buffers already.
  std::vector<uint8_t> out;
  appendComPort(out, kSetControl, kControlDtrOff);
  if (!m_modemLinesAbsent) appendComPort(out, kSetControl, kControlRtsOff);
  if (!send(out, monotonicMs() + kCloseWaitMs)) return false;
  ParkedConnection parked;
  parked.name = m_name;
  parked.socket = std::move(m_socket);
  parked.decoder = m_decoder;
  parked.clientBinary = m_clientBinary;
  std::copy(std::begin(m_refusedOption), std::end(m_refusedOption), parked.refusedOption);
  parked.modemLinesAbsent = m_modemLinesAbsent;
  parked.modemLineAnswered = m_modemLineAnswered;
  parked.settings = m_settings;
  parked.roundTripUs = m_roundTripUs;
  ConnectionPark::shared().put(std::move(parked), kParkMs);
  resetState();
  return true;
}

bool Rfc2217Device::resume() {
  ParkedConnection parked;
  if (!ConnectionPark::shared().take(m_name, parked)) return false;
  m_socket = std::move(parked.socket);
  m_decoder = parked.decoder;
  m_comPortAccepted = true;
  m_clientBinary = parked.clientBinary;
  std::copy(std::begin(parked.refusedOption), std::end(parked.refusedOption), m_refusedOption);
  m_modemLinesAbsent = parked.modemLinesAbsent;
  m_modemLineAnswered = parked.modemLineAnswered;
  m_settings = parked.settings;
  m_roundTripUs = parked.roundTripUs;
  // What came while the port was closed is lost, as on a closed local port; a connection
  // that broke meanwhile is replaced by a new one.
  pump(0);
  m_input.clear();
  m_xoffReceived = false;
  if (m_disconnected) {
    m_socket.close();
    resetState();
    return false;
  }
  // The modem state is asked anew (the mask's answer brings it), and the lines rise as an
  // open raises them.
  const uint32_t before = answerCount(kSetModemStateMask) + answerCount(kNotifyModemState);
  std::vector<uint8_t> out;
  appendComPort(out, kSetModemStateMask, kModemStateMask);
  const int64_t deadline = monotonicMs() + kNegotiationTimeoutMs;
  const int64_t askedAtUs = monotonicUs();
  if (send(out, deadline)) {
    while (answerCount(kSetModemStateMask) + answerCount(kNotifyModemState) == before) {
      if (remainingMs(deadline) <= 0 || !pump(remainingMs(deadline))) break;
    }
    if (answerCount(kSetModemStateMask) + answerCount(kNotifyModemState) != before) {
      noteRoundTrip(askedAtUs);
    }
  }
  modemLine(kControlDtrOn, kModemLineAnswerMs);
  modemLine(kControlRtsOn, kModemLineAnswerMs);
  if (m_disconnected) {
    m_socket.close();
    resetState();
    return false;
  }
  return true;
}

void Rfc2217Device::noteRoundTrip(int64_t askedAtUs) {
  // The smallest sample: a busy moment of either machine makes one longer, never shorter.
  const int64_t took = std::max<int64_t>(1, monotonicUs() - askedAtUs);
  if (took > UINT32_MAX) return;
  if (m_roundTripUs == 0 || took < m_roundTripUs) m_roundTripUs = static_cast<uint32_t>(took);
}

ReceiveDelays Rfc2217Device::receiveDelays() const {
  ReceiveDelays delays;
  delays.networkRoundTripUs = m_roundTripUs;
  return delays;
}

}  // namespace serial
