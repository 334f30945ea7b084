// Update mode: the boot ROM, the bootstrap loader and the transfer program.
//
// Boot ROM (19200 baud, 8 data bits, even parity): a length byte L, then 2 L + 2 bytes of
// loader. L = 0xFF is the 80x86 form: 512 bytes whose byte 511 is the 8-bit sum of bytes
// 0 to 510 and whose byte 510 is the speed divisor. Any other L is the form of the
// word-addressed signal processor: the divisor sits 8 bytes before the end, there is no
// sum, and target addresses count 32-bit words from then on. A real ROM knows its own
// processor; this one tells them apart by L alone, so a word-form loader of exactly 512
// bytes (L = 0xFF as well) is taken for the 80x86 form and, its sum not matching, refused. The ROM
// answers "T" (taken) or "C" (refused), and after "T" waits for the host's "S" before the loader
// switches the line to 115200 / divisor baud.
//
// Loader: transfer program download of length (4), load address (4), start address (4),
// the program, and a 16-bit sum of the address bytes and the program; status "T" when the
// sum is right (the transfer program then runs), "C" when it is not, "O" when the program
// does not fit the RAM.
//
// Transfer program: packets of a length byte L, L data bytes and a 16-bit sum. A request's
// sum includes L, an answer's does not. Each request is acknowledged with 20 00 (or
// answered 20 F0 when its sum is wrong, 20 F4 while a command is still busy); the answer
// follows. Every byte the target sends must come back as an echo before the next one goes;
// a wrong echo, or none within 2 s, makes it give up the rest of that packet. A request of
// the wrong size for its command is refused with 20 F2.
//
// The flash commands are in sim/instrument_flash.cpp, the DSP module's in
// sim/instrument_dsp.cpp.
#include "sim/instrument.h"
#include "sim/target_protocol.h"

namespace sim {
namespace {

constexpr uint8_t kStatusTaken = 'T';
constexpr uint8_t kStatusRefused = 'C';
constexpr uint8_t kStatusOverflow = 'O';

constexpr uint8_t kLoaderLength80x86 = 0xFF;
constexpr size_t kDivisorIndex80x86 = 510;
constexpr size_t kSumIndex80x86 = 511;
constexpr size_t kDivisorFromEndWordForm = 8;
constexpr uint32_t kWordAddressUnit = 4;

constexpr size_t kTransferHeaderBytes = 12;
constexpr uint8_t kPowerOnConfirm = 'D';
constexpr uint8_t kPowerOffConfirm = 'F';

constexpr size_t kEpromTypeRequest = 7;
constexpr size_t kUploadRequest = 10;
constexpr size_t kChecksumRequest = 10;
constexpr size_t kEraseRequest = 11;
constexpr size_t kDspEraseRequest = 5;
constexpr size_t kDspWriteRequest = 245;

}  // namespace

// --- Boot ROM ------------------------------------------------------------------------

void Instrument::receiveBootRom(uint8_t byte) {
  m_rxSilenceAt = m_now + static_cast<Nanos>(kReceiveSilenceNs * hostTimeFactor);
  if (m_rx.empty() && m_rxExpected == 0) {
    m_rxExpected = 2u * byte + 2u;
    m_rx.push_back(byte);  // the length byte stays at the front
    return;
  }
  m_rx.push_back(byte);
  if (m_rx.size() < m_rxExpected + 1) return;

  ++counters.loaderDownloads;
  const uint8_t length = m_rx[0];
  const std::vector<uint8_t> image(m_rx.begin() + 1, m_rx.end());
  m_rx.clear();
  m_rxExpected = 0;
  m_rxSilenceAt = 0;

  bool good = true;
  uint8_t divisor = 0;
  uint32_t unit = 1;
  if (length == kLoaderLength80x86) {
    uint8_t sum = 0;
    for (size_t i = 0; i < kSumIndex80x86; ++i) sum = static_cast<uint8_t>(sum + image[i]);
    good = sum == image[kSumIndex80x86];
    divisor = image[kDivisorIndex80x86];
  } else if (image.size() >= kDivisorFromEndWordForm) {
    divisor = image[image.size() - kDivisorFromEndWordForm];
    unit = kWordAddressUnit;
  } else {
    good = false;
  }
  if (divisor == 0) good = false;
  if (options.faults.loaderReject) {
    fire("loader-reject");
    good = false;
  }
  if (good) {
    linkBaud = kLoaderClockBaud / divisor;
    addressUnit = unit;
    m_mode = Mode::LoaderWaitStart;
  }
  queueOutput(m_now + kStatusLetterDelayNs, {good ? kStatusTaken : kStatusRefused}, false);
}

// --- Loader --------------------------------------------------------------------------

void Instrument::receiveLoader(uint8_t byte) {
  m_rxSilenceAt = m_now + static_cast<Nanos>(kReceiveSilenceNs * hostTimeFactor);
  if (m_rxDiscard) return;
  m_rx.push_back(byte);
  if (m_rx.size() == kTransferHeaderBytes) {
    const uint32_t length = le32(m_rx, 0);
    if (length > kTransferProgramMaxBytes) {
      // Does not fit: refused at once, and the rest of the download is let pass.
      ++counters.transferDownloads;
      m_rx.clear();
      m_rxDiscard = true;
      queueOutput(m_now + kStatusLetterDelayNs, {kStatusOverflow}, false);
      return;
    }
    m_rxExpected = kTransferHeaderBytes + length + 2;
  }
  if (m_rx.size() < kTransferHeaderBytes || m_rx.size() < m_rxExpected) return;

  ++counters.transferDownloads;
  uint16_t sum = 0;
  for (size_t i = 4; i < m_rx.size() - 2; ++i) sum = static_cast<uint16_t>(sum + m_rx[i]);
  const uint16_t sent = static_cast<uint16_t>(m_rx[m_rx.size() - 2] | m_rx[m_rx.size() - 1] << 8);
  m_rx.clear();
  m_rxExpected = 0;
  m_rxSilenceAt = 0;
  const bool good = sum == sent;
  if (good) m_mode = Mode::TransferProgram;
  queueOutput(m_now + kStatusLetterDelayNs, {good ? kStatusTaken : kStatusRefused}, false);
}

// --- Packet protocol -----------------------------------------------------------------

void Instrument::receivePacketByte(uint8_t byte) {
  if (m_awaitingEcho) {
    takeEcho(byte);
    return;
  }
  m_rxSilenceAt = m_now + static_cast<Nanos>(kReceiveSilenceNs * hostTimeFactor);
  m_rx.push_back(byte);
  const size_t total = static_cast<size_t>(m_rx[0]) + 3;
  if (m_rx.size() < total) return;

  const size_t length = m_rx[0];
  uint16_t sum = static_cast<uint16_t>(length);
  for (size_t i = 1; i <= length; ++i) sum = static_cast<uint16_t>(sum + m_rx[i]);
  const uint16_t sent = static_cast<uint16_t>(m_rx[length + 1] | m_rx[length + 2] << 8);
  const std::vector<uint8_t> data(m_rx.begin() + 1, m_rx.begin() + 1 + static_cast<long>(length));
  m_rx.clear();
  m_rxSilenceAt = 0;

  const Nanos readyAt = m_now + kPacketTurnaroundNs;
  if (sum != sent) {
    ++counters.badChecksumPackets;
    queueErrorAnswer(readyAt, kErrorChecksum);
    return;
  }
  ++counters.requestPackets;
  if (!m_outbox.empty()) {
    // Still busy with the command before (its answer is pending).
    queueErrorAnswer(readyAt, kErrorBusy);
    return;
  }
  if (data.empty()) {
    queueErrorAnswer(readyAt, kErrorBadRequest);
    return;
  }
  queuePacket(readyAt, {kAnswerError, kAcknowledge});
  handleRequest(data);
}

void Instrument::takeEcho(uint8_t byte) {
  m_awaitingEcho = false;
  if (byte != m_expectedEcho) {
    ++counters.echoErrors;
    abandonPacket();
    return;
  }
  Outgoing& out = m_outbox.front();
  if (++m_outIndex < out.bytes.size()) return;  // sendPending() sends the next byte
  const bool reboot = out.rebootAfter;
  m_outbox.pop_front();
  m_outIndex = 0;
  if (reboot) startBoot();
}

void Instrument::abandonPacket() {
  m_awaitingEcho = false;
  if (m_outbox.empty()) return;
  // The command was carried out; only its answer is lost. A boot still happens.
  const bool reboot = m_outbox.front().rebootAfter;
  m_outbox.pop_front();
  m_outIndex = 0;
  if (reboot) startBoot();
}

void Instrument::queuePacket(Nanos readyAt, const std::vector<uint8_t>& data, bool rebootAfter) {
  std::vector<uint8_t> packet;
  packet.reserve(data.size() + 3);
  packet.push_back(static_cast<uint8_t>(data.size()));
  uint16_t sum = 0;
  for (uint8_t byte : data) {
    packet.push_back(byte);
    sum = static_cast<uint16_t>(sum + byte);
  }
  packet.push_back(static_cast<uint8_t>(sum));
  packet.push_back(static_cast<uint8_t>(sum >> 8));
  queueOutput(readyAt, std::move(packet), true, rebootAfter);
}

void Instrument::queueErrorAnswer(Nanos readyAt, uint8_t error) {
  queuePacket(readyAt, {kAnswerError, error});
}

namespace {

// Size of the request of each command; 0 for program data, whose size follows its count.
size_t requestSize(uint8_t command) {
  switch (command) {
    case kCmdEpromType:
      return kEpromTypeRequest;
    case kCmdUpload:
      return kUploadRequest;
    case kCmdChecksum:
      return kChecksumRequest;
    case kCmdErase:
      return kEraseRequest;
    case kCmdDspErase:
      return kDspEraseRequest;
    case kCmdDspWrite:
      return kDspWriteRequest;
    case kCmdProgram:
      return 0;
    default:
      return 1;  // the command code alone
  }
}

}  // namespace

void Instrument::handleRequest(const std::vector<uint8_t>& data) {
  // The command starts while its acknowledgement goes out; quick ones answer right after.
  const Nanos readyAt = m_now + kPacketTurnaroundNs;
  const uint8_t command = data[0];
  const uint8_t positive = static_cast<uint8_t>(command + kAnswerOffset);
  const bool known = command == kCmdEpromType ||
                     (command >= kCmdPowerOn && command <= kCmdDspWrite) ||
                     command == kCmdDspChecksum || command == kCmdBoot ||
                     command == kCmdDeleteCmosRam || command == kCmdEndTransfer;
  if (!known) {
    queueErrorAnswer(readyAt, kErrorUnknownCommand);
    return;
  }
  const size_t size = requestSize(command);
  if (size != 0 && data.size() != size) {
    queueErrorAnswer(readyAt, kErrorBadRequest);
    return;
  }
  switch (command) {
    case kCmdEpromType:
      commandEpromType(data, readyAt);
      return;
    case kCmdPowerOn:
      programmingPower = true;
      queuePacket(readyAt, {positive, kPowerOnConfirm});
      return;
    case kCmdPowerOff:
      programmingPower = false;
      queuePacket(readyAt, {positive, kPowerOffConfirm});
      return;
    case kCmdUpload:
      commandUpload(data, readyAt);
      return;
    case kCmdProgram:
      commandProgram(data, readyAt);
      return;
    case kCmdChecksum:
      commandChecksum(data, readyAt);
      return;
    case kCmdErase:
      commandErase(data, readyAt);
      return;
    case kCmdDspPrepare:
    case kCmdDspErase:
    case kCmdDspWrite:
    case kCmdDspChecksum:
      commandDsp(data, readyAt);
      return;
    case kCmdBoot:
      queuePacket(readyAt, {positive}, true);
      return;
    case kCmdDeleteCmosRam:
      ++counters.cmosRamDeletes;
      queuePacket(readyAt, {positive});
      return;
    case kCmdEndTransfer:
      transferProgramEnded = true;
      // The update is over: with its checksum taken, the new firmware is whole.
      if (m_checksumSinceErase) firmwareValid = true;
      queuePacket(readyAt, {kAnswerEndTransfer});
      return;
    default:
      queueErrorAnswer(readyAt, kErrorUnknownCommand);
      return;
  }
}

}  // namespace sim
