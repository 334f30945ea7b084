#include "sim/instrument.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "platform/clock.h"

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

platform::Parity toPlatform(SerialParity parity) {
  switch (parity) {
    case SerialParity::Odd:
      return platform::Parity::Odd;
    case SerialParity::Even:
      return platform::Parity::Even;
    case SerialParity::None:
      break;
  }
  return platform::Parity::None;
}

uint64_t seedFor(uint64_t seed, uint64_t stream) {
  return seed * 0x100000001B3ull + stream * 0x9E3779B97F4A7C15ull;
}

}  // namespace

const char* modeName(Mode mode) {
  switch (mode) {
    case Mode::Normal:
      return "normal";
    case Mode::Booting:
      return "booting";
    case Mode::BootRom:
      return "update mode, boot ROM";
    case Mode::LoaderWaitStart:
      return "update mode, loader waits for start";
    case Mode::Loader:
      return "update mode, loader";
    case Mode::TransferProgram:
      return "update mode, transfer program";
  }
  return "?";
}

Instrument::Instrument(const Options& opts)
    : options(opts),
      m_toInstrument(seedFor(opts.seed, 5)),
      m_toHost(seedFor(opts.seed, 6)),
      m_noiseRandom(seedFor(opts.seed, 1)),
      m_noiseBackRandom(seedFor(opts.seed, 2)),
      m_dropRandom(seedFor(opts.seed, 3)),
      m_addressRandom(seedFor(opts.seed, 4)) {
  serial.baud = opts.baud;
  serial.bits = opts.bits;
  serial.parity = opts.parity;
  serial.stopBits = opts.stopBits;
  serial.pace = opts.pace;
  m_version = opts.version;
  m_hw = opts.hw;
  m_now = now();
  const bool kept = loadState();
  if (options.flash == FlashLayout::Board) installBoardFlash();
  // A new instrument runs the firmware of its options; a kept one knows what it ran (its
  // flash may hold an update that has not booted yet).
  if (!kept) m_firmwareVersions.emplace(flashDigest(), m_version);
  // Switched on with firmware that an update left incomplete, it waits in update mode.
  if (!firmwareValid) {
    m_mode = Mode::BootRom;
    linkBaud = kBootRomBaud;
  }
  saveState();
}

// --- Time ----------------------------------------------------------------------------

Nanos Instrument::now() {
  const int64_t clockNs = static_cast<int64_t>(platform::clock().nowMicros() * 1000);
  // A clock that was replaced by one that starts anew must not send the simulation back in
  // time: from then on the simulation counts on from where it was.
  if (!m_clockSeen) {
    m_clockOffset = static_cast<int64_t>(m_lastClock) - clockNs;
    m_clockSeen = true;
  }
  if (clockNs + m_clockOffset < static_cast<int64_t>(m_lastClock)) {
    m_clockOffset = static_cast<int64_t>(m_lastClock) - clockNs;
  }
  m_lastClock = static_cast<Nanos>(clockNs + m_clockOffset);
  return m_lastClock;
}

void Instrument::advance() {
  advanceTo(now());
}

void Instrument::sleepUntil(Nanos t) {
  const Nanos current = now();
  if (t > current) platform::clock().sleepMicros((t - current + 999) / 1000);
  advance();
}

Nanos Instrument::nextTimer() const {
  Nanos next = kNever;
  if (m_mode == Mode::Booting) next = std::min(next, m_bootDoneAt);
  if (m_rxSilenceAt != 0) next = std::min(next, m_rxSilenceAt);
  if (m_awaitingEcho) {
    next = std::min(next, m_echoDeadline);
  } else if (!m_outbox.empty()) {
    next = std::min(next, m_outbox.front().readyAt);
  }
  return next;
}

Nanos Instrument::nextEvent() const {
  return std::min({nextTimer(), m_toInstrument.nextCharacter(instrumentFraming()),
                   m_toHost.nextCharacter(hostFraming())});
}

void Instrument::advanceTo(Nanos t) {
  for (;;) {
    const Nanos next = nextEvent();
    if (next > t) break;
    m_now = std::max(m_now, next);
    Character character;
    while (m_toHost.take(m_now, hostFraming(), character)) deliverToHost(character);
    while (m_toInstrument.take(m_now, instrumentFraming(), character)) receive(character);
    fireTimers();
  }
  m_now = std::max(m_now, t);
}

void Instrument::fireTimers() {
  if (m_mode == Mode::Booting && m_bootDoneAt <= m_now) finishBoot();
  if (m_rxSilenceAt != 0 && m_rxSilenceAt <= m_now) {
    // Silence in the middle of a download or a request: drop what came so far.
    if (m_mode == Mode::TransferProgram && !m_rx.empty()) ++counters.droppedPackets;
    m_rx.clear();
    m_rxExpected = 0;
    m_rxDiscard = false;
    m_rxSilenceAt = 0;
  }
  if (m_awaitingEcho && m_echoDeadline <= m_now) {
    // The host does not echo: the target gives up the rest of this packet.
    ++counters.echoTimeouts;
    abandonPacket();
  }
  sendPending();
}

// --- Line ----------------------------------------------------------------------------

Framing Instrument::instrumentFraming() const {
  Framing framing;
  switch (m_mode) {
    case Mode::BootRom:
    case Mode::LoaderWaitStart:
      framing.baud = kBootRomBaud;
      framing.parity = platform::Parity::Even;
      break;
    case Mode::Loader:
    case Mode::TransferProgram:
      framing.baud = linkBaud;
      framing.parity = platform::Parity::Even;
      break;
    case Mode::Normal:
    case Mode::Booting:
      framing.baud = serial.baud;
      framing.dataBits = serial.bits;
      framing.parity = toPlatform(serial.parity);
      framing.stopBits = serial.stopBits == 2 ? platform::StopBits::Two : platform::StopBits::One;
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

// --- Modes ---------------------------------------------------------------------------

void Instrument::resetReceivers() {
  m_rx.clear();
  m_rxExpected = 0;
  m_rxDiscard = false;
  m_rxSilenceAt = 0;
  m_textLine.clear();
  m_textLineTooLong = false;
  m_textLineGarbled = false;
}

void Instrument::enterUpdateMode() {
  resetReceivers();
  m_outbox.clear();
  m_outIndex = 0;
  m_awaitingEcho = false;
  programmingPower = false;
  transferProgramEnded = false;
  m_corruptedThisUpdate = false;
  if (options.resident) {
    // A transfer program is already running at the boot ROM's speed.
    linkBaud = kBootRomBaud;
    addressUnit = 1;
    m_mode = Mode::TransferProgram;
  } else {
    m_mode = Mode::BootRom;
  }
  if (options.faults.noReady) fire("no-ready");
}

void Instrument::startBoot() {
  resetReceivers();
  m_outbox.clear();
  m_outIndex = 0;
  m_awaitingEcho = false;
  m_mode = Mode::Booting;
  m_bootDoneAt = m_now + static_cast<Nanos>(options.bootTimeSeconds * 1e9);
  ++counters.boots;
}

void Instrument::finishBoot() {
  if (m_checksumSinceErase) firmwareValid = true;
  startFirmware();
}

void Instrument::powerCycle() {
  advance();
  m_outbox.clear();
  m_outIndex = 0;
  m_awaitingEcho = false;
  m_hostInput.clear();
  ++counters.powerCycles;
  startFirmware();
}

void Instrument::startFirmware() {
  resetReceivers();
  qamMode = false;
  dsp.prepared = false;
  programmingPower = false;
  transferProgramEnded = false;
  linkBaud = kBootRomBaud;
  addressUnit = 1;
  errorQueue.clear();
  m_checksumSinceErase = false;
  if (!firmwareValid) {
    // The boot block finds no whole firmware: it waits in update mode for a loader.
    m_outbox.clear();
    m_outIndex = 0;
    m_awaitingEcho = false;
    m_mode = Mode::BootRom;
    saveState();
    return;
  }
  m_mode = Mode::Normal;
  bootedFromUpdate = true;
  bootedFirmware();
  // It may come back as other hardware (hw-after), with the flash that goes with it.
  if (options.flash == FlashLayout::Board) installBoardFlash();
  saveState();
}

// --- Host end ------------------------------------------------------------------------

bool Instrument::hostOpen() {
  if (m_hostOpen) return false;
  advance();
  m_hostOpen = true;
  m_hostInput.clear();
  m_hostRts = m_hostSettings.rtsControl != platform::LineControl::Off;
  m_hostDtr = m_hostSettings.dtrControl != platform::LineControl::Off;
  return true;
}

void Instrument::hostClose() {
  if (!m_hostOpen) return;
  hostPurge(true, true);
  m_hostOpen = false;
  m_hostDtr = false;
  saveState();
}

void Instrument::hostSetSettings(const platform::LineSettings& settings) {
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

platform::ReadResult Instrument::hostReadByte(uint8_t& byte) {
  if (!m_hostOpen) return platform::ReadResult::Failed;
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
      return platform::ReadResult::Empty;
    }
  }
  byte = m_hostInput.front().byte;
  m_hostInput.pop_front();
  return platform::ReadResult::Byte;
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

// --- Operator ------------------------------------------------------------------------

bool Instrument::operatorAcknowledged(const std::string& text) {
  advance();
  const bool waitsForBoot =
      text.find("Wait until") != std::string::npos && text.find("booted") != std::string::npos;
  const bool firmwareUpdate = text.find("FIRMWARE UPDATE") != std::string::npos;
  const bool setup =
      text.find("SETUP") != std::string::npos && text.find("RS232") != std::string::npos;
  if (!waitsForBoot && !firmwareUpdate && !setup) return false;

  // Whatever the box asks, the operator first waits until the instrument shows its
  // screen again.
  while (m_mode == Mode::Booting) sleepUntil(m_bootDoneAt);
  if (waitsForBoot) return true;

  if (firmwareUpdate) {
    // PRESET ends QAM mode; the service menu then starts the firmware update.
    if (m_mode != Mode::Normal) return false;
    qamMode = false;
    enterUpdateMode();
    return true;
  }

  // SETUP / REMOTE / RS232: the values the box lists, one per line ("- BAUDRATE 9600").
  if (m_mode != Mode::Normal) return false;
  SerialSettings wanted = serial;
  size_t lineStart = 0;
  while (lineStart <= text.size()) {
    size_t lineEnd = text.find('\n', lineStart);
    if (lineEnd == std::string::npos) lineEnd = text.size();
    std::string line = text.substr(lineStart, lineEnd - lineStart);
    lineStart = lineEnd + 1;
    while (!line.empty() && (line.back() == '.' || line.back() == ' ')) line.pop_back();
    const size_t dash = line.find("- ");
    if (dash != std::string::npos) line = line.substr(dash + 2);
    const size_t blank = line.find(' ');
    if (blank == std::string::npos) continue;
    const std::string key = line.substr(0, blank);
    const std::string value = line.substr(blank + 1);
    if (key == "BAUDRATE") {
      const unsigned long baud = std::strtoul(value.c_str(), nullptr, 10);
      if (isSupportedBaudRate(static_cast<uint32_t>(baud)))
        wanted.baud = static_cast<uint32_t>(baud);
    } else if (key == "DATABITS" && (value == "7" || value == "8")) {
      wanted.bits = static_cast<uint8_t>(value[0] - '0');
    } else if (key == "STOPBIT" && (value == "1" || value == "2")) {
      wanted.stopBits = static_cast<uint8_t>(value[0] - '0');
    } else if (key == "PARITY") {
      if (value == "NO" || value == "NONE") wanted.parity = SerialParity::None;
      if (value == "ODD") wanted.parity = SerialParity::Odd;
      if (value == "EVEN") wanted.parity = SerialParity::Even;
    } else if (key == "HANDSHAKE") {
      if (value.find("XON") != std::string::npos) wanted.pace = Pace::Xon;
      if (value == "NONE" || value == "NO") wanted.pace = Pace::None;
      if (value.find("RTS") != std::string::npos) wanted.pace = Pace::Ack;
    }
  }
  serial = wanted;
  m_textLine.clear();
  m_textLineGarbled = false;
  return true;
}

// --- Inspection ----------------------------------------------------------------------

const FlashBank* Instrument::bankAt(uint32_t address) const {
  for (const FlashBank& bank : banks) {
    if (bank.contains(address)) return &bank;
  }
  return nullptr;
}

FlashBank* Instrument::bankHolding(uint32_t address) {
  for (FlashBank& bank : banks) {
    if (bank.contains(address)) return &bank;
  }
  return nullptr;
}

std::vector<uint8_t> Instrument::flashBytes(uint32_t address, uint32_t lengthBytes) const {
  const FlashBank* bank = bankAt(address);
  uint32_t outside = 0;
  if (bank == nullptr || !bank->holds(address, lengthBytes, outside)) return {};
  const auto first = bank->bytes.begin() + bank->offsetOf(address);
  return std::vector<uint8_t>(first, first + lengthBytes);
}

std::vector<uint32_t> Instrument::dspImage() const {
  const uint32_t words =
      std::min<uint32_t>(dsp.erasedWords, static_cast<uint32_t>(dsp.flash.size()));
  return std::vector<uint32_t>(dsp.flash.begin(), dsp.flash.begin() + words);
}

uint32_t Instrument::hwInfo() const {
  return m_hw;
}

const std::string& Instrument::version() const {
  return m_version;
}

namespace {
constexpr uint32_t kOptionB1 = 0x20;
constexpr uint32_t kOptionB10 = 0x400;
constexpr uint32_t kOptionB20 = 0x1000;
}  // namespace

bool Instrument::memoryExtension() const {
  constexpr uint32_t kMemoryExtensionBits = 0x30000;
  constexpr int32_t kLastBoardWithoutExtension = 3;
  return (hwInfo() & kMemoryExtensionBits) != 0 ||
         (options.board && *options.board > kLastBoardWithoutExtension);
}

bool Instrument::dspFitted() const {
  return (hwInfo() & (kOptionB1 | kOptionB10 | kOptionB20)) != 0;
}

bool Instrument::dspAvailable() const {
  const uint32_t hw = hwInfo();
  if (hw & (kOptionB10 | kOptionB20)) return true;
  return (hw & kOptionB1) != 0 && (qamMode || dsp.prepared);
}

std::string Instrument::stateText() const {
  switch (m_mode) {
    case Mode::Normal:
      return "running firmware " + m_version;
    case Mode::Booting:
      return "booting";
    case Mode::BootRom:
      return firmwareValid ? "in update mode, waiting for the bootstrap loader"
                           : "in update mode with incomplete firmware, waiting for the "
                             "bootstrap loader";
    case Mode::LoaderWaitStart:
    case Mode::Loader:
      return "in update mode, running the bootstrap loader";
    case Mode::TransferProgram:
      return "in update mode, running its transfer program";
  }
  return "?";
}

std::string Instrument::report() const {
  char text[640];
  std::snprintf(text, sizeof text,
                "mode: %s\n"
                "text commands: %u, garbled bytes: %u\n"
                "loaders: %u, transfer programs: %u\n"
                "request packets: %u (bad checksum %u, dropped %u, program data %u)\n"
                "packets sent: %u, echo errors: %u, missing echoes: %u\n"
                "CMOS RAM deletes: %u, boots: %u, power cycles: %u\n"
                "firmware: %s\n",
                modeName(m_mode), counters.textCommands, counters.garbledBytes,
                counters.loaderDownloads, counters.transferDownloads, counters.requestPackets,
                counters.badChecksumPackets, counters.droppedPackets, counters.programPackets,
                counters.answerPackets, counters.echoErrors, counters.echoTimeouts,
                counters.cmosRamDeletes, counters.boots, counters.powerCycles,
                firmwareValid ? "whole" : "incomplete (an update erased it and did not end)");
  std::string result = text;
  for (const auto& [fault, count] : faultsFired) {
    result += "fault " + fault + ": " + std::to_string(count) + "\n";
  }
  return result;
}

}  // namespace sim
