// The instrument's core: its construction, its clock, its modes and power, and what can be
// inspected from outside. The line and the host's end are in sim/instrument_line.cpp, the
// operator at the front panel in sim/instrument_operator.cpp.
#include "sim/instrument.h"

#include <algorithm>
#include <cstdio>

#include "platform/clock.h"

namespace sim {
namespace {

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
