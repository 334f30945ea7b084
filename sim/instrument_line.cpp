// The line between the instrument and the host: the framing of both ends, the bytes each
// end puts on it and takes from it, the faults that strike them there, and the host's end as
// the serial device sees it (reads, writes, flow control, modem lines).
#include <algorithm>

#include "sim/instrument.h"

namespace sim {
namespace {

// A write held by flow control gives up after 20 ms per byte + 1000 ms, as the port's
// write time-outs are set; it looks again every 10 ms.
constexpr Nanos kHeldWriteNsPerByte = 20 * kNanosPerMs;
constexpr Nanos kHeldWriteNsConstant = 1000 * kNanosPerMs;
constexpr Nanos kHeldWriteStepNs = 10 * kNanosPerMs;
// An empty read returns after this long.
constexpr Nanos kEmptyReadNs = 100 * kNanosPerMs;
// The host's go-ahead after the boot ROM took the loader.
constexpr uint8_t kLoaderStartLetter = 'S';

serial::Parity toPlatform(SerialParity parity) {
  switch (parity) {
    case SerialParity::Odd:
      return serial::Parity::Odd;
    case SerialParity::Even:
      return serial::Parity::Even;
    case SerialParity::None:
      break;
  }
  return serial::Parity::None;
}

}  // namespace

// --- Line ----------------------------------------------------------------------------

Framing Instrument::instrumentFraming() const {
  Framing framing;
  switch (m_mode) {
    case Mode::BootRom:
    case Mode::LoaderWaitStart:
      framing.baud = kBootRomBaud;
      framing.parity = serial::Parity::Even;
      break;
    case Mode::Loader:
    case Mode::TransferProgram:
      framing.baud = linkBaud;
      framing.parity = serial::Parity::Even;
      break;
    case Mode::Normal:
    case Mode::Booting:
      framing.baud = serial.baud;
      framing.dataBits = serial.bits;
      framing.parity = toPlatform(serial.parity);
      framing.stopBits = serial.stopBits == 2 ? serial::StopBits::Two : serial::StopBits::One;
      break;
  }
  return framing;
}

Framing Instrument::hostFraming() const {
  Framing framing;
  framing.baud = m_hostSettings.baudRate;
  framing.dataBits = m_hostSettings.dataBits;
  framing.parity = m_hostSettings.parity;
  framing.stopBits = m_hostSettings.stopBits;
  return framing;
}

// Counts a byte put on the line; false once the line is dead.
bool Instrument::countLineByte() {
  if (lineDead) return false;
  if (options.faults.unplug && m_lineBytes >= *options.faults.unplug) {
    lineDead = true;
    fire("unplug");
    return false;
  }
  ++m_lineBytes;
  return true;
}

void Instrument::fire(const char* fault) {
  ++faultsFired[fault];
}

void Instrument::transmit(uint8_t byte, bool packetByte) {
  const Framing framing = instrumentFraming();
  const Nanos start = std::max(m_now, m_txFreeAt);
  const Nanos arrive = start + framing.frameNanos();
  m_txFreeAt = arrive;
  if (!countLineByte()) return;
  if (packetByte && m_noiseBackRandom.chance(options.faults.noiseBack)) {
    byte ^= static_cast<uint8_t>(1u << m_noiseBackRandom.below(8));
    fire("noise-back");
  }
  m_toHost.put({start, arrive, byte, framing});
}

void Instrument::deliverToHost(const Character& character) {
  if (!m_hostOpen) return;  // nobody listens on a closed port
  if (character.framingError) return;
  if (m_hostInput.size() >= kHostInputQueueBytes) return;
  // The adapter collects what arrives and hands it on when its latency timer runs out,
  // which starts with the first byte it holds.
  const Nanos latency = static_cast<Nanos>(options.latencyMs) * kNanosPerMs;
  if (latency > 0 && m_latencyFlushAt <= character.at) m_latencyFlushAt = character.at + latency;
  m_hostInput.push_back({character.byte, latency > 0 ? m_latencyFlushAt : character.at});
}

void Instrument::receive(const Character& character) {
  if (m_mode == Mode::Booting) return;
  if (character.garbled) ++counters.garbledBytes;
  if (character.framingError) return;  // the UART drops it
  uint8_t byte = character.byte;
  switch (m_mode) {
    case Mode::Normal:
      receiveText(byte, character.parityError);
      break;
    case Mode::BootRom:
      receiveBootRom(byte);
      break;
    case Mode::LoaderWaitStart:
      if (byte == kLoaderStartLetter) {
        m_mode = Mode::Loader;
        resetReceivers();
      }
      break;
    case Mode::Loader:
      receiveLoader(byte);
      break;
    case Mode::TransferProgram:
      // The packet protocol's bytes from the host (requests and echoes) are where the
      // line faults strike.
      if (m_dropRandom.chance(options.faults.drop)) {
        fire("drop");
        return;
      }
      if (m_noiseRandom.chance(options.faults.noise)) {
        byte ^= static_cast<uint8_t>(1u << m_noiseRandom.below(8));
        fire("noise");
      }
      receivePacketByte(byte);
      break;
    case Mode::Booting:
      break;
  }
}

void Instrument::queueOutput(Nanos readyAt, std::vector<uint8_t> bytes, bool echoed,
                             bool rebootAfter) {
  if (options.faults.silent) {
    fire("silent");
    if (rebootAfter) startBoot();
    return;
  }
  m_outbox.push_back({readyAt, std::move(bytes), echoed, rebootAfter});
}

// Puts on the line what is due: raw output all at once, a packet one byte at a time with
// a wait for each echo.
void Instrument::sendPending() {
  while (!m_awaitingEcho && !m_outbox.empty() && m_outbox.front().readyAt <= m_now) {
    Outgoing& out = m_outbox.front();
    if (!out.echoed) {
      for (uint8_t byte : out.bytes) transmit(byte, false);
      m_outbox.pop_front();
      continue;
    }
    if (m_outIndex == 0) ++counters.answerPackets;
    const uint8_t byte = out.bytes[m_outIndex];
    transmit(byte, true);
    m_awaitingEcho = true;
    m_expectedEcho = byte;
    m_echoDeadline = m_txFreeAt + static_cast<Nanos>(kEchoTimeoutNs * hostTimeFactor);
  }
}
// --- Host end ------------------------------------------------------------------------

bool Instrument::hostOpen() {
  if (m_hostOpen) return false;
  advance();
  m_hostOpen = true;
  m_hostInput.clear();
  m_hostRts = m_hostSettings.rtsControl != serial::LineControl::Off;
  m_hostDtr = m_hostSettings.dtrControl != serial::LineControl::Off;
  return true;
}

void Instrument::hostClose() {
  if (!m_hostOpen) return;
  hostPurge(true, true);
  m_hostOpen = false;
  m_hostDtr = false;
  saveState();
}

void Instrument::hostSetSettings(const serial::LineSettings& settings) {
  advance();
  m_hostSettings = settings;
}

void Instrument::hostPurge(bool input, bool output) {
  advance();
  if (input) m_hostInput.clear();
  if (output) {
    // Bytes not yet started never go out; one being shifted out completes.
    m_toInstrument.dropUnstarted(m_now);
    m_hostTxFreeAt = std::max(m_now, m_toInstrument.lastEnd());
  }
}

serial::ReadResult Instrument::hostReadByte(uint8_t& byte) {
  if (!m_hostOpen) return serial::ReadResult::Failed;
  advance();
  if (m_hostInput.empty() || m_hostInput.front().readyAt > m_now) {
    // Run the instrument until something is readable for the host, at most 100 ms ahead,
    // and let the clock sleep until then.
    const Nanos deadline = m_now + kEmptyReadNs;
    const auto readyAt = [&] { return m_hostInput.empty() ? kNever : m_hostInput.front().readyAt; };
    for (;;) {
      const Nanos next = nextEvent();
      if (readyAt() <= next || next > deadline) break;
      advanceTo(next);
    }
    sleepUntil(std::min(readyAt(), deadline));
    if (m_hostInput.empty() || m_hostInput.front().readyAt > m_now) {
      return serial::ReadResult::Empty;
    }
  }
  byte = m_hostInput.front().byte;
  m_hostInput.pop_front();
  return serial::ReadResult::Byte;
}

bool Instrument::hostTakeByte(uint8_t& byte) {
  if (!m_hostOpen) return false;
  advance();
  if (m_hostInput.empty() || m_hostInput.front().readyAt > m_now) return false;
  byte = m_hostInput.front().byte;
  m_hostInput.pop_front();
  return true;
}

uint64_t Instrument::hostMicrosUntilNextEvent() {
  advance();
  Nanos next = nextEvent();
  if (!m_hostInput.empty()) next = std::min(next, m_hostInput.front().readyAt);
  if (next == kNever) return UINT64_MAX;
  return next > m_now ? (next - m_now + 999) / 1000 : 0;
}

bool Instrument::hostOutputHeld() {
  advance();
  bool cts = false;
  bool dsr = false;
  hostModemStatus(cts, dsr);
  return (m_hostSettings.outxCtsFlow && !cts) || (m_hostSettings.outxDsrFlow && !dsr);
}

bool Instrument::hostWrite(const uint8_t* data, uint32_t size, uint32_t& written) {
  written = 0;
  if (!m_hostOpen) return false;
  advance();
  if (hostOutputHeld()) {
    const Nanos giveUpAt = m_now + kHeldWriteNsPerByte * size + kHeldWriteNsConstant;
    while (hostOutputHeld() && m_now < giveUpAt) sleepUntil(m_now + kHeldWriteStepNs);
    if (hostOutputHeld()) return true;  // timed out with nothing written
  }
  const Framing framing = hostFraming();
  const Nanos frame = framing.frameNanos();
  for (uint32_t i = 0; i < size; ++i) {
    // The driver's output queue holds kHostOutputQueueBytes; a longer write waits.
    const Nanos queueSpan = frame * kHostOutputQueueBytes;
    if (m_hostTxFreeAt + frame > m_now + queueSpan) sleepUntil(m_hostTxFreeAt + frame - queueSpan);
    const Nanos start = std::max(m_now, m_hostTxFreeAt);
    const Nanos arrive = start + frame;
    m_hostTxFreeAt = arrive;
    ++written;
    if (!countLineByte()) continue;  // into a dead line
    m_toInstrument.put({start, arrive, data[i], framing});
  }
  return true;
}

void Instrument::hostDrain() {
  sleepUntil(m_hostTxFreeAt);
}

void Instrument::hostModemStatus(bool& cts, bool& dsr) {
  advance();
  cts = false;
  dsr = false;
  if (lineDead) return;
  switch (m_mode) {
    case Mode::Normal:
      cts = true;
      dsr = true;
      break;
    case Mode::Booting:
      break;
    case Mode::BootRom:
    case Mode::LoaderWaitStart:
    case Mode::Loader:
    case Mode::TransferProgram:
      cts = options.faults.noReady;
      dsr = true;
      break;
  }
}

}  // namespace sim
