#include "sim/line_server.h"

#include <algorithm>
#include <vector>

#include "serial/rfc2217/rfc2217_codec.h"

namespace sim {
namespace {

using namespace serial::rfc2217;

// The longest wait between two looks at the instrument and the stop request when nothing
// happens on the line: short enough that Ctrl-C and a second client are answered at once.
constexpr int64_t kIdleWaitUs = 20000;
// What a client that does not read may leave unsent before it is dropped.
constexpr size_t kMaxUnsentBytes = 1 << 20;
constexpr const char* kBusyText = "The simulated instrument is in use by another client.\r\n";

// One client of the terminal server.
class Rfc2217Session {
 public:
  Rfc2217Session(Instrument& instrument, Socket socket)
      : m_instrument(instrument), m_socket(std::move(socket)) {}

  // Serves the client until it leaves, fails or stopAsked; true when it left by itself.
  bool run(Listener& listener, const ServeHooks& hooks);

 private:
  void negotiate(uint8_t verb, uint8_t option);
  void command(const TelnetEvent& event);
  void answer(uint8_t code, const std::vector<uint8_t>& value) {
    appendComPort(m_out, static_cast<uint8_t>(code + kServerOffset), value.data(), value.size());
  }
  uint8_t modemState() {
    bool cts = false;
    bool dsr = false;
    m_instrument.hostModemStatus(cts, dsr);
    return static_cast<uint8_t>((cts ? kModemCts : 0) | (dsr ? kModemDsr : 0));
  }
  void notifyModem(bool always);
  void applySettings() { m_instrument.hostSetSettings(m_settings); }
  // Hands over what waits; false when the connection is gone.
  bool flush();
  // Reads what the client sent and acts on it; false when the connection is gone.
  bool receive();

  Instrument& m_instrument;
  Socket m_socket;
  TelnetDecoder m_decoder;
  serial::LineSettings m_settings;
  std::vector<uint8_t> m_out;
  uint8_t m_modemMask = 0;
  int m_modemSent = -1;
  bool m_answered[256] = {};  // options already answered, so that no negotiation loops
};

void Rfc2217Session::negotiate(uint8_t verb, uint8_t option) {
  const bool ours =
      option == kOptionBinary || option == kOptionSuppressGoAhead || option == kOptionComPort;
  if (m_answered[option]) return;
  m_answered[option] = true;
  switch (verb) {
    case kWill:  // the client offers: binary, no go-ahead and the COM-PORT-OPTION are welcome
      appendNegotiation(m_out, ours ? kDo : kDont, option);
      break;
    case kDo:  // the client asks us: we send binary without go-ahead, and never echo
      appendNegotiation(m_out, ours && option != kOptionComPort ? kWill : kWont, option);
      break;
    default:
      break;
  }
}

void Rfc2217Session::notifyModem(bool always) {
  const uint8_t state = modemState();
  if (!always && (m_modemSent < 0 || state == m_modemSent)) return;
  uint8_t deltas = 0;
  if (m_modemSent >= 0) {
    if ((state ^ m_modemSent) & kModemCts) deltas |= kModemDeltaCts;
    if ((state ^ m_modemSent) & kModemDsr) deltas |= kModemDeltaDsr;
  }
  m_modemSent = state;
  answer(kNotifyModemState, {static_cast<uint8_t>((state | deltas) & (m_modemMask | 0x30))});
}

void Rfc2217Session::command(const TelnetEvent& event) {
  const uint8_t value = event.value.empty() ? 0 : event.value[0];
  switch (event.code) {
    case kSetBaudRate: {
      // 0 asks what it is; a rate the line cannot carry is left as it was.
      if (const uint32_t asked = baudRateValue(event.value); asked >= 50 && asked <= 4000000) {
        m_settings.baudRate = asked;
        applySettings();
      }
      const uint32_t rate = m_settings.baudRate;
      answer(kSetBaudRate, {static_cast<uint8_t>(rate >> 24), static_cast<uint8_t>(rate >> 16),
                            static_cast<uint8_t>(rate >> 8), static_cast<uint8_t>(rate)});
      break;
    }
    case kSetDataSize:
      if (value >= 5 && value <= 8) {
        m_settings.dataBits = value;
        applySettings();
      }
      answer(kSetDataSize, {m_settings.dataBits});
      break;
    case kSetParity:
      if (value >= kParityNone && value <= kParityEven) {
        m_settings.parity = value == kParityOdd    ? serial::Parity::Odd
                            : value == kParityEven ? serial::Parity::Even
                                                   : serial::Parity::None;
        m_settings.parityCheck = m_settings.parity != serial::Parity::None;
        applySettings();
      }
      answer(kSetParity,
             {static_cast<uint8_t>(m_settings.parity == serial::Parity::Odd    ? kParityOdd
                                   : m_settings.parity == serial::Parity::Even ? kParityEven
                                                                               : kParityNone)});
      break;
    case kSetStopSize:
      if (value == kStopSizeOne || value == kStopSizeTwo) {
        m_settings.stopBits = value == kStopSizeTwo ? serial::StopBits::Two : serial::StopBits::One;
        applySettings();
      }
      answer(kSetStopSize,
             {static_cast<uint8_t>(m_settings.stopBits == serial::StopBits::Two ? kStopSizeTwo
                                                                                : kStopSizeOne)});
      break;
    case kSetControl:
      if (value == kControlDtrOn || value == kControlDtrOff)
        m_instrument.hostSetDtr(value == kControlDtrOn);
      if (value == kControlRtsOn || value == kControlRtsOff)
        m_instrument.hostSetRts(value == kControlRtsOn);
      if (value == kControlOutboundNone || value == kControlOutboundHardware) {
        m_settings.outxCtsFlow = value == kControlOutboundHardware;
        applySettings();
      }
      answer(kSetControl, {value});
      break;
    case kSetModemStateMask:
      m_modemMask = value;
      answer(kSetModemStateMask, {value});
      notifyModem(true);
      break;
    case kPurgeData:
      // Only what waits for the client is dropped. The client purges the other way once it
      // has waited for its bytes' time on the line, counted from when it sent them; this
      // server, a program among others on its machine, may have taken them later, and the
      // purge would cut off the end of a command that the client rightly counts as sent.
      m_instrument.hostPurge(value == kPurgeReceive || value == kPurgeBoth, false);
      answer(kPurgeData, {value});
      break;
    default:
      // Line-state mask, flow suspend and resume: nothing to do on a simulated line.
      if (event.code < kServerOffset) answer(event.code, event.value);
      break;
  }
}

bool Rfc2217Session::flush() {
  while (!m_out.empty()) {
    const int64_t sent = m_socket.send(m_out.data(), m_out.size());
    if (sent < 0) return false;
    if (sent == 0) break;
    m_out.erase(m_out.begin(), m_out.begin() + sent);
  }
  return m_out.size() <= kMaxUnsentBytes;
}

bool Rfc2217Session::receive() {
  uint8_t chunk[4096];
  const int64_t got = m_socket.receive(chunk, sizeof chunk);
  if (got < 0) return false;
  if (got == 0) return true;
  TelnetDecoder::Output decoded;
  m_decoder.feed(chunk, static_cast<size_t>(got), decoded);
  size_t taken = 0;
  const auto takeData = [&](size_t upTo) {
    if (upTo > taken) {
      uint32_t written = 0;
      m_instrument.hostWrite(decoded.data.data() + taken, static_cast<uint32_t>(upTo - taken),
                             written);
    }
    taken = std::max(taken, upTo);
  };
  for (size_t i = 0; i < decoded.events.size(); ++i) {
    takeData(decoded.dataBefore[i]);
    const TelnetEvent& event = decoded.events[i];
    if (event.kind == TelnetEvent::Kind::ComPort) {
      command(event);
    } else {
      negotiate(event.verb, event.option);
    }
  }
  takeData(decoded.data.size());
  return true;
}

bool Rfc2217Session::run(Listener& listener, const ServeHooks& hooks) {
  m_socket.setNoDelay();
  m_socket.setKeepAlive();
  appendNegotiation(m_out, kWill, kOptionBinary);
  appendNegotiation(m_out, kDo, kOptionBinary);
  appendNegotiation(m_out, kWill, kOptionSuppressGoAhead);
  appendNegotiation(m_out, kDo, kOptionSuppressGoAhead);
  appendNegotiation(m_out, kDo, kOptionComPort);
  m_answered[kOptionBinary] = m_answered[kOptionSuppressGoAhead] = m_answered[kOptionComPort] =
      true;

  m_settings = m_instrument.hostSettings();
  std::vector<uint8_t> data;
  for (;;) {
    if (hooks.stopAsked && hooks.stopAsked()) return false;
    if (hooks.poll) hooks.poll();
    data.clear();
    uint8_t byte = 0;
    while (m_instrument.hostTakeByte(byte)) data.push_back(byte);
    if (!data.empty()) appendData(m_out, data.data(), data.size());
    notifyModem(false);
    if (!flush()) return false;
    // A second client is turned away at once, so that its probe finds the port in use.
    {
      Socket other = listener.accept(0);
      if (other.isOpen()) {
        other.send(reinterpret_cast<const uint8_t*>(kBusyText),
                   std::char_traits<char>::length(kBusyText));
        if (hooks.tell) hooks.tell("a second client was turned away");
      }
    }
    const uint64_t next = m_instrument.hostMicrosUntilNextEvent();
    int64_t wait =
        next > static_cast<uint64_t>(kIdleWaitUs) ? kIdleWaitUs : static_cast<int64_t>(next);
    if (!m_out.empty()) wait = std::min<int64_t>(wait, 1000);
    if (m_socket.waitReadable(wait)) {
      if (!receive()) return true;
      m_socket.quickAck();
    }
  }
}

}  // namespace

void serveRfc2217(Instrument& instrument, Listener& listener, const ServeHooks& hooks) {
  while (!(hooks.stopAsked && hooks.stopAsked())) {
    if (hooks.poll) hooks.poll();
    Socket client = listener.accept(kIdleWaitUs);
    if (!client.isOpen()) {
      instrument.advance();
      continue;
    }
    if (!instrument.hostOpen()) continue;
    if (hooks.tell) hooks.tell("client connected");
    Rfc2217Session session(instrument, std::move(client));
    const bool left = session.run(listener, hooks);
    instrument.hostClose();
    if (hooks.tell) {
      hooks.tell(std::string(left ? "client left" : "client dropped") + "; the instrument is " +
                 instrument.stateText());
    }
  }
}

void servePseudoTerminal(Instrument& instrument, platform::PseudoTerminal& terminal,
                         const ServeHooks& hooks) {
  if (!instrument.hostOpen()) return;
  platform::TerminalFraming framing = terminal.framing();
  serial::LineSettings settings = instrument.hostSettings();
  const auto applyFraming = [&](const platform::TerminalFraming& now) {
    settings.baudRate = now.baud;
    settings.dataBits = now.dataBits;
    settings.parity = now.parity == 'O'   ? serial::Parity::Odd
                      : now.parity == 'E' ? serial::Parity::Even
                                          : serial::Parity::None;
    settings.parityCheck = settings.parity != serial::Parity::None;
    settings.stopBits = now.stopBits == 2 ? serial::StopBits::Two : serial::StopBits::One;
    instrument.hostSetSettings(settings);
  };
  applyFraming(framing);
  std::vector<uint8_t> out;
  while (!(hooks.stopAsked && hooks.stopAsked())) {
    if (hooks.poll) hooks.poll();
    uint8_t byte = 0;
    while (instrument.hostTakeByte(byte)) out.push_back(byte);
    if (!out.empty()) {
      const int64_t put = terminal.write(out.data(), out.size());
      if (put < 0) break;
      // Nobody reads: what the far end's buffer does not take is lost, as on a line.
      out.erase(out.begin(), out.begin() + std::max<int64_t>(put, 0));
      if (out.size() > kMaxUnsentBytes) out.clear();
    }
    const uint64_t next = instrument.hostMicrosUntilNextEvent();
    int64_t wait =
        next > static_cast<uint64_t>(kIdleWaitUs) ? kIdleWaitUs : static_cast<int64_t>(next);
    if (!out.empty()) wait = std::min<int64_t>(wait, 1000);
    const bool readable = terminal.waitReadable(wait);
    // The settings the far end's program set apply to what it writes from now on.
    if (const platform::TerminalFraming now = terminal.framing(); !(now == framing)) {
      framing = now;
      applyFraming(framing);
    }
    if (!readable) continue;
    uint8_t chunk[4096];
    const int64_t got = terminal.read(chunk, sizeof chunk);
    if (got < 0) break;
    uint32_t written = 0;
    if (got > 0) instrument.hostWrite(chunk, static_cast<uint32_t>(got), written);
  }
  instrument.hostClose();
}

}  // namespace sim
