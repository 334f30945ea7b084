#include "serial/rfc2217/rfc2217_codec.h"

namespace serial::rfc2217 {

void TelnetDecoder::reset() {
  m_state = State::Data;
  m_verb = 0;
  m_lastWasCr = false;
  m_sb.clear();
}

void TelnetDecoder::finishSubnegotiation(Output& out) {
  // Only COM-PORT messages matter; other options were refused, so their subnegotiations
  // (and empty ones) carry nothing for us.
  if (m_sb.size() >= 2 && m_sb[0] == kOptionComPort) {
    TelnetEvent event;
    event.kind = TelnetEvent::Kind::ComPort;
    event.code = m_sb[1];
    event.value.assign(m_sb.begin() + 2, m_sb.end());
    out.events.push_back(std::move(event));
    out.dataBefore.push_back(out.data.size());
  }
  m_sb.clear();
}

void TelnetDecoder::feed(const uint8_t* bytes, size_t size, Output& out) {
  for (size_t i = 0; i < size; ++i) {
    // A byte that ends a subnegotiation abnormally is read once more in the state it leads to.
    while (!step(bytes[i], out)) {
    }
  }
}

bool TelnetDecoder::step(uint8_t byte, Output& out) {
  switch (m_state) {
    case State::Data:
      takeData(byte, out);
      return true;
    case State::Iac:
      takeCommand(byte, out);
      return true;
    case State::Verb: {
      TelnetEvent event;
      event.kind = TelnetEvent::Kind::Negotiation;
      event.verb = m_verb;
      event.option = byte;
      out.events.push_back(std::move(event));
      out.dataBefore.push_back(out.data.size());
      m_state = State::Data;
      return true;
    }
    case State::Sb:
    case State::SbIac:
      return takeSubnegotiation(byte, out);
    case State::SbSkip:
      if (byte == kIac) m_state = State::SbSkipIac;
      return true;
    case State::SbSkipIac:
      m_state = byte == kSe ? State::Data : State::SbSkip;
      return true;
  }
  return true;
}

void TelnetDecoder::takeData(uint8_t byte, Output& out) {
  if (byte == kIac) {
    m_state = State::Iac;
    return;
  }
  if (!m_serverBinary && m_lastWasCr && byte == 0) {
    m_lastWasCr = false;
    return;
  }
  m_lastWasCr = byte == '\r';
  out.data.push_back(byte);
}

void TelnetDecoder::takeCommand(uint8_t byte, Output& out) {
  if (byte == kIac) {
    m_lastWasCr = false;
    out.data.push_back(kIac);
    m_state = State::Data;
  } else if (byte == kWill || byte == kWont || byte == kDo || byte == kDont) {
    m_verb = byte;
    m_state = State::Verb;
  } else if (byte == kSb) {
    m_sb.clear();
    m_state = State::Sb;
  } else {
    // NOP, GA, data mark, break and the other one-byte commands: nothing to do.
    m_state = State::Data;
  }
}

bool TelnetDecoder::takeSubnegotiation(uint8_t byte, Output& out) {
  if (m_state == State::Sb) {
    if (byte == kIac) {
      m_state = State::SbIac;
    } else if (m_sb.size() < kMaxSubnegotiationBytes) {
      m_sb.push_back(byte);
    } else {
      m_sb.clear();
      m_state = State::SbSkip;
    }
    return true;
  }
  if (byte == kSe) {
    finishSubnegotiation(out);
    m_state = State::Data;
  } else if (byte == kIac) {
    if (m_sb.size() < kMaxSubnegotiationBytes) {
      m_sb.push_back(kIac);
      m_state = State::Sb;
    } else {
      m_sb.clear();
      m_state = State::SbSkip;
    }
  } else {
    // IAC followed by anything else inside a subnegotiation breaks it off (a server that
    // forgot the SE): drop it and read the command normally.
    m_sb.clear();
    m_state = State::Iac;
    return false;
  }
  return true;
}

void appendData(std::vector<uint8_t>& out, const uint8_t* data, size_t size, bool binary) {
  for (size_t i = 0; i < size; ++i) {
    out.push_back(data[i]);
    if (data[i] == kIac) out.push_back(kIac);
    if (!binary && data[i] == '\r') out.push_back(0);
  }
}

void appendNegotiation(std::vector<uint8_t>& out, uint8_t verb, uint8_t option) {
  out.push_back(kIac);
  out.push_back(verb);
  out.push_back(option);
}

void appendComPort(std::vector<uint8_t>& out, uint8_t code, const uint8_t* value, size_t size) {
  out.push_back(kIac);
  out.push_back(kSb);
  out.push_back(kOptionComPort);
  out.push_back(code);
  appendData(out, value, size);
  out.push_back(kIac);
  out.push_back(kSe);
}

void appendComPort(std::vector<uint8_t>& out, uint8_t code, uint8_t value) {
  appendComPort(out, code, &value, 1);
}

void appendBaudRate(std::vector<uint8_t>& out, uint32_t baudRate) {
  const uint8_t value[4] = {static_cast<uint8_t>(baudRate >> 24),
                            static_cast<uint8_t>(baudRate >> 16),
                            static_cast<uint8_t>(baudRate >> 8), static_cast<uint8_t>(baudRate)};
  appendComPort(out, kSetBaudRate, value, sizeof value);
}

uint32_t baudRateValue(const std::vector<uint8_t>& value) {
  if (value.size() != 4) return 0;
  return (static_cast<uint32_t>(value[0]) << 24) | (static_cast<uint32_t>(value[1]) << 16) |
         (static_cast<uint32_t>(value[2]) << 8) | value[3];
}

}  // namespace serial::rfc2217
