// The Telnet stream of an open connection: what the server sends (data, option
// negotiation, COM-PORT answers and notifications) taken apart, and what goes to it sent
// within its deadline.
#include <algorithm>
#include <vector>

#include "serial/rfc2217/rfc2217_device.h"
#include "serial/rfc2217/rfc2217_device_limits.h"

namespace serial {

using namespace rfc2217;

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
  m_input.take(bytes, size, m_settings, m_xoffReceived);
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

}  // namespace serial
