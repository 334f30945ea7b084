#include "serial/rfc2217/rfc2217_device.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

#include "platform/clock.h"
#include "serial/rfc2217/rfc2217_park.h"

namespace platform {
namespace {

using namespace rfc2217;

// Bounds of the connection: the TCP connect, then the Telnet negotiation up to the
// server's consent to the COM-PORT-OPTION and its answers to the first queries.
constexpr int kConnectTimeoutMs = 3000;
constexpr int kNegotiationTimeoutMs = 1500;
// A close waits this long for the server to end the connection.
constexpr int kCloseWaitMs = 500;
// A probe gives the server this long to answer, and then this long to drop a connection
// it cannot serve.
constexpr int kProbeConnectTimeoutMs = 1000;
constexpr int kProbeDropWindowMs = 250;
// Each settings command waits this long for its answer.
constexpr int kAnswerTimeoutMs = 2000;
// A DTR or RTS command of a server that has modem lines is answered within this time; a
// server that stays silent longer has none.
constexpr int kModemLineAnswerMs = 250;
// The first modem-state notification follows the mask within this time.
constexpr int kModemStateWaitMs = 500;
// An empty read waits this long for a byte; under the virtual clock it looks at the socket
// this long in real time and then counts its 100 ms on the virtual clock.
constexpr int kReadPollMs = 100;
constexpr int kVirtualReadPollMs = 1;
// The write time-out, per byte and constant part.
constexpr int kWriteMsPerByte = 20;
constexpr int kWriteConstantMs = 1000;
// While output is held the writer looks again this often.
constexpr int kHeldPollMs = 10;
// With flow control done here the writer sends this many bytes at a time, so that an XOFF
// or a DSR drop stops the output within a short stretch.
constexpr uint32_t kGatedChunkBytes = 64;
constexpr size_t kReadChunkBytes = 4096;
// One look at the socket takes at most this many chunks.
constexpr int kPumpChunks = 16;
// A closed connection is kept this long for an open of the same port that follows (the
// port class closes and opens again for every change of settings).
constexpr int kParkMs = 2000;
constexpr uint8_t kModemStateMask = kModemCts | kModemDsr | kModemDeltaCts | kModemDeltaDsr;

int64_t monotonicUs() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t monotonicMs() {
  return monotonicUs() / 1000;
}

int remainingMs(int64_t deadlineMs) {
  const int64_t left = deadlineMs - monotonicMs();
  if (left <= 0) return 0;
  return left > 60000 ? 60000 : static_cast<int>(left);
}

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

// Time of one character on the line in microseconds: start, data, parity and stop bits.
int64_t frameMicros(const LineSettings& settings) {
  const uint32_t baud = settings.baudRate ? settings.baudRate : 9600;
  uint32_t bits = 1u + settings.dataBits + (settings.parity != Parity::None ? 1u : 0u);
  bits += settings.stopBits == StopBits::One ? 1u : 2u;
  return static_cast<int64_t>(bits) * 1000000 / baud + 1;
}

}  // namespace

bool parseNetworkPortName(const std::string& deviceName, std::string& host, uint16_t& port) {
  if (!isNetworkPortName(deviceName)) return false;
  const std::string rest = deviceName.substr(std::strlen(kNetworkPortPrefix));
  size_t colon;
  if (!rest.empty() && rest[0] == '[') {
    const size_t close = rest.find(']');
    if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':')
      return false;
    host = rest.substr(1, close - 1);
    colon = close + 1;
  } else {
    colon = rest.rfind(':');
    if (colon == std::string::npos) return false;
    host = rest.substr(0, colon);
    if (host.find(':') != std::string::npos) return false;  // IPv6 needs brackets
  }
  const std::string digits = rest.substr(colon + 1);
  if (host.empty() || digits.empty() || digits.size() > 5) return false;
  uint32_t number = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + static_cast<uint32_t>(c - '0');
  }
  if (number == 0 || number > 65535) return false;
  port = static_cast<uint16_t>(number);
  return true;
}

Rfc2217Device::Rfc2217Device(std::string deviceName)
    : m_name(std::move(deviceName)), m_input(kInputBufferBytes) {}

Rfc2217Device::~Rfc2217Device() {
  close();
}

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
  m_inputHead = 0;
  m_inputCount = 0;
}

bool Rfc2217Device::open() {
  if (m_socket.isOpen()) return true;
  resetState();
  m_openFailure = PortFailure::None;
  std::string host;
  uint16_t port = 0;
  if (!parseNetworkPortName(m_name, host, port)) {
    errno = ENOENT;
    return false;
  }
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
    errno = busy ? EBUSY : ETIMEDOUT;
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

void Rfc2217Device::close() {
  if (!m_socket.isOpen()) return;
  if (!m_disconnected && park()) return;
  // A graceful end: the server releases its port when it sees ours, and the port class
  // often opens again at once (new settings), which a server still holding the port for
  // the old connection would refuse. So wait, within a bound, for the server to close too.
  if (!m_disconnected) {
    flushOutput(monotonicMs() + kCloseWaitMs);
    m_socket.shutdownSend();
    const int64_t deadline = monotonicMs() + kCloseWaitMs;
    while (!m_disconnected && remainingMs(deadline) > 0) {
      m_inputCount = 0;
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
  m_inputHead = 0;
  m_inputCount = 0;
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

void Rfc2217Device::markDisconnected() {
  m_disconnected = true;
}

bool Rfc2217Device::pump(int timeoutMs) {
  return pumpMicros(static_cast<int64_t>(timeoutMs < 0 ? 0 : timeoutMs) * 1000);
}

bool Rfc2217Device::pumpMicros(int64_t timeoutUs) {
  if (!m_socket.isOpen() || m_disconnected) return false;
  if (!m_socket.waitReadable(timeoutUs)) return true;
  uint8_t chunk[kReadChunkBytes];
  // A server that floods (data or Telnet commands without end) must not keep the caller
  // here: one call takes a bounded amount, and the caller's loop looks at its deadline.
  for (int chunks = 0; chunks < kPumpChunks; ++chunks) {
    const int64_t got = m_socket.receive(chunk, sizeof chunk);
    if (got > 0) {
      m_socket.quickAck();
      takeInput(chunk, static_cast<size_t>(got));
      if (static_cast<size_t>(got) < sizeof chunk) return true;
      continue;
    }
    if (got == 0) return true;
    // End of stream or a broken connection: the server or the network went away.
    markDisconnected();
    return false;
  }
  return true;
}

void Rfc2217Device::takeInput(const uint8_t* bytes, size_t size) {
  TelnetDecoder::Output out;
  m_decoder.feed(bytes, size, out);
  size_t taken = 0;
  for (size_t i = 0; i < out.events.size(); ++i) {
    const size_t upTo = out.dataBefore[i];
    takeData(out.data.data() + taken, upTo - taken);
    taken = upTo;
    if (out.events[i].kind == TelnetEvent::Kind::Negotiation) {
      handleNegotiation(out.events[i]);
    } else {
      handleComPort(out.events[i]);
    }
  }
  takeData(out.data.data() + taken, out.data.size() - taken);
}

void Rfc2217Device::takeData(const uint8_t* bytes, size_t size) {
  // Data that arrives before the answer to a purge of the input was sent before the purge.
  if (m_purgingInput) return;
  for (size_t i = 0; i < size; ++i) {
    const uint8_t byte = bytes[i];
    if (m_settings.outX && byte == m_settings.xoffChar) {
      m_xoffReceived = true;
      continue;
    }
    if (m_settings.outX && byte == m_settings.xonChar) {
      m_xoffReceived = false;
      continue;
    }
    // A full buffer loses the newest bytes, as a driver's full input queue does.
    if (m_inputCount == m_input.size()) continue;
    m_input[(m_inputHead + m_inputCount) % m_input.size()] = byte;
    ++m_inputCount;
  }
}

void Rfc2217Device::handleNegotiation(const TelnetEvent& event) {
  const uint8_t option = event.option;
  const bool ours =
      option == kOptionBinary || option == kOptionSuppressGoAhead || option == kOptionComPort;
  std::vector<uint8_t> reply;
  switch (event.verb) {
    case kDo:
      if (option == kOptionComPort) m_comPortAccepted = true;
      if (option == kOptionBinary) m_clientBinary = true;
      // Our own options were offered with the first bytes; anything else is declined once.
      if (!ours && !m_refusedOption[option]) {
        m_refusedOption[option] = true;
        appendNegotiation(reply, kWont, option);
      }
      break;
    case kDont:
      if (option == kOptionComPort) m_comPortRefused = true;
      if (option == kOptionBinary) m_clientBinary = false;
      break;
    case kWill:
      if (option == kOptionBinary) m_decoder.setServerBinary(true);
      // The server's echo would send our bytes back to us; other options mean nothing here.
      if (!ours && !m_refusedOption[option]) {
        m_refusedOption[option] = true;
        appendNegotiation(reply, kDont, option);
      }
      break;
    case kWont:
      if (option == kOptionBinary) m_decoder.setServerBinary(false);
      break;
    default:
      break;
  }
  if (!reply.empty()) send(reply, monotonicMs() + kAnswerTimeoutMs);
}

void Rfc2217Device::handleComPort(const TelnetEvent& event) {
  if (event.code < kServerOffset) return;  // a client command from a confused server
  const uint8_t code = static_cast<uint8_t>(event.code - kServerOffset);
  if (code >= std::size(m_answers)) return;
  Answer& answer = m_answers[code];
  ++answer.count;
  answer.value = event.value;
  switch (code) {
    case kNotifyModemState:
      if (event.value.size() == 1) {
        m_modemState = event.value[0];
        m_modemStateKnown = true;
      }
      break;
    case kFlowControlSuspend:
      m_suspended = true;
      break;
    case kFlowControlResume:
      m_suspended = false;
      break;
    case kPurgeData:
      m_purgingInput = false;
      break;
    case kSetControl:
      if (event.value.size() == 1) {
        const uint8_t value = event.value[0];
        if (value == kControlDtrOn || value == kControlDtrOff || value == kControlRtsOn ||
            value == kControlRtsOff) {
          m_modemLineAnswered = true;
          m_modemLinesAbsent = false;
        }
      }
      break;
    default:
      break;
  }
}

bool Rfc2217Device::flushOutput(int64_t deadlineMs) {
  while (!m_pendingOutput.empty()) {
    if (!m_socket.isOpen() || m_disconnected) return false;
    const int64_t sent = m_socket.send(m_pendingOutput.data(), m_pendingOutput.size());
    if (sent > 0) {
      m_pendingOutput.erase(m_pendingOutput.begin(), m_pendingOutput.begin() + sent);
      continue;
    }
    if (sent == 0) {
      const int wait = remainingMs(deadlineMs);
      if (wait <= 0) return false;
      m_socket.waitWritable(wait < kHeldPollMs ? wait : kHeldPollMs);
      // The server may wait for us to read before it reads again.
      pump(0);
      continue;
    }
    markDisconnected();
    return false;
  }
  return true;
}

bool Rfc2217Device::send(const std::vector<uint8_t>& bytes, int64_t deadlineMs) {
  if (!m_socket.isOpen() || m_disconnected) return false;
  m_pendingOutput.insert(m_pendingOutput.end(), bytes.begin(), bytes.end());
  return flushOutput(deadlineMs);
}

uint32_t Rfc2217Device::answerCount(uint8_t code) const {
  return code < std::size(m_answers) ? m_answers[code].count : 0;
}

const std::vector<uint8_t>& Rfc2217Device::answerValue(uint8_t code) const {
  static const std::vector<uint8_t> none;
  return code < std::size(m_answers) ? m_answers[code].value : none;
}

bool Rfc2217Device::awaitAnswer(uint8_t code, uint32_t countBefore, int64_t deadlineMs) {
  while (answerCount(code) == countBefore) {
    const int wait = remainingMs(deadlineMs);
    if (wait <= 0 || m_disconnected) return false;
    if (!pump(wait)) return false;
  }
  return true;
}

bool Rfc2217Device::control(uint8_t value, int64_t deadlineMs, uint8_t& answer) {
  const uint32_t before = answerCount(kSetControl);
  std::vector<uint8_t> out;
  appendComPort(out, kSetControl, value);
  if (!send(out, deadlineMs) || !awaitAnswer(kSetControl, before, deadlineMs)) return false;
  const std::vector<uint8_t>& got = answerValue(kSetControl);
  answer = got.size() == 1 ? got[0] : 0;
  return true;
}

bool Rfc2217Device::modemLine(uint8_t value, int waitMs) {
  if (!m_socket.isOpen() || m_disconnected) return false;
  if (m_modemLinesAbsent) {
    // Still told, in case the server does it without a word.
    std::vector<uint8_t> out;
    appendComPort(out, kSetControl, value);
    send(out, monotonicMs() + kAnswerTimeoutMs);
    return false;
  }
  uint8_t answer = 0;
  if (control(value, monotonicMs() + waitMs, answer)) return answer == value;
  if (m_disconnected) return false;
  // No answer: a server that never answered DTR or RTS on this connection has no modem
  // lines on its port.
  if (!m_modemLineAnswered) m_modemLinesAbsent = true;
  return false;
}

bool Rfc2217Device::setQueueSizes(uint32_t, uint32_t) {
  // The server's buffers have their own sizes; the input buffer here is large enough for
  // anything the port class reads as a block.
  return isOpen();
}

bool Rfc2217Device::purge(bool input, bool output) {
  if (!m_socket.isOpen() || m_disconnected) return false;
  if (input) {
    m_inputHead = 0;
    m_inputCount = 0;
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
    m_inputHead = 0;
    m_inputCount = 0;
  }
  return answered;
}

bool Rfc2217Device::getSettings(LineSettings& settings) {
  if (!m_socket.isOpen()) return false;
  settings = m_settings;
  return true;
}

bool Rfc2217Device::setSettings(const LineSettings& settings) {
  if (!m_socket.isOpen() || m_disconnected) return false;
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

ReadResult Rfc2217Device::readByte(uint8_t& byte) {
  if (!m_socket.isOpen()) return ReadResult::Failed;
  if (m_inputCount == 0 && !m_disconnected) pump(0);
  if (m_inputCount == 0) {
    const bool virtualTime = dynamic_cast<VirtualClock*>(&clock()) != nullptr;
    const int64_t deadline = monotonicMs() + (virtualTime ? kVirtualReadPollMs : kReadPollMs);
    while (m_inputCount == 0) {
      const int wait = remainingMs(deadline);
      if (wait <= 0) break;
      // A dead connection turns the rest of the wait into a plain pause.
      if (m_disconnected || !pump(wait))
        std::this_thread::sleep_for(std::chrono::milliseconds(wait));
    }
    if (m_inputCount == 0) {
      if (virtualTime) clock().sleepMicros(static_cast<uint64_t>(kReadPollMs) * 1000);
      return ReadResult::Empty;
    }
  }
  byte = m_input[m_inputHead];
  m_inputHead = (m_inputHead + 1) % m_input.size();
  --m_inputCount;
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

bool Rfc2217Device::write(const uint8_t* data, uint32_t size, uint32_t& written) {
  written = 0;
  if (!m_socket.isOpen() || m_disconnected) return false;
  if (size == 0) return true;
  if (data == nullptr) return false;
  const bool gated = m_settings.outX || m_settings.outxDsrFlow || m_settings.outxCtsFlow;
  const int64_t deadline =
      monotonicMs() + static_cast<int64_t>(size) * kWriteMsPerByte + kWriteConstantMs;
  const int64_t frame = frameMicros(m_settings);

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

bool Rfc2217Device::drain() {
  if (!m_socket.isOpen() || m_disconnected) return false;
  const int pending = m_socket.unsentBytes();
  const int64_t lineWaitMs = (m_lineFreeAtUs - monotonicUs()) / 1000;
  const int64_t deadline =
      monotonicMs() + static_cast<int64_t>(pending + m_pendingOutput.size()) * kWriteMsPerByte +
      kWriteConstantMs + std::max<int64_t>(lineWaitMs, 0);
  return flushOutput(deadline) && waitLineFree(deadline);
}

bool Rfc2217Device::waitLineFree(int64_t deadlineMs) {
  const int64_t frame = frameMicros(m_settings);
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

bool Rfc2217Device::outputHeld(bool& held) {
  held = false;
  if (!m_socket.isOpen() || m_disconnected) return false;
  if (!pump(0)) return false;
  held = heldNow();
  return true;
}

bool Rfc2217Device::modemStatus(bool& cts, bool& dsr) {
  cts = false;
  dsr = false;
  if (!m_socket.isOpen() || m_disconnected || m_modemLinesAbsent) return false;
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

bool Rfc2217Device::setRts() {
  return modemLine(kControlRtsOn, kAnswerTimeoutMs);
}

bool Rfc2217Device::setDtr() {
  return modemLine(kControlDtrOn, kAnswerTimeoutMs);
}

bool Rfc2217Device::clearDtr() {
  return modemLine(kControlDtrOff, kAnswerTimeoutMs);
}

}  // namespace platform
