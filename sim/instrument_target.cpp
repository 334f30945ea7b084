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
// Flash (flash=board): the board's own chips, two side by side on its 16-bit bus: two
// AM29F040 at 0x50000-0x14FFFF with the memory extension, else two I28F020 at
// 0x80000-0xFFFFF. Requests outside them are refused with F3, a bus width or chip type
// that does not match the chips there with F2, identification, erase and program without
// programming voltage with F4. With flash=any a bank is laid out wherever an
// identification names one, of the type it names.
#include <algorithm>

#include "sim/instrument.h"

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

// Commands and answers of the transfer program.
constexpr uint8_t kAnswerError = 0x20;
constexpr uint8_t kAcknowledge = 0x00;
constexpr uint8_t kAnswerOffset = 0x80;
constexpr uint8_t kCmdEpromType = 0x21;
constexpr uint8_t kCmdPowerOn = 0x22;
constexpr uint8_t kCmdPowerOff = 0x23;
constexpr uint8_t kCmdUpload = 0x24;
constexpr uint8_t kCmdProgram = 0x25;
constexpr uint8_t kCmdChecksum = 0x26;
constexpr uint8_t kCmdErase = 0x27;
constexpr uint8_t kCmdDspPrepare = 0x28;
constexpr uint8_t kCmdDspErase = 0x29;
constexpr uint8_t kCmdDspWrite = 0x2A;
constexpr uint8_t kCmdDspChecksum = 0x2C;
constexpr uint8_t kCmdBoot = 0x2E;
constexpr uint8_t kCmdDeleteCmosRam = 0x2F;
constexpr uint8_t kCmdEndTransfer = 0x49;
constexpr uint8_t kAnswerEndTransfer = 0x48;

constexpr uint8_t kPowerOnConfirm = 'D';
constexpr uint8_t kPowerOffConfirm = 'F';
constexpr uint8_t kProgramFailed = 'C';
constexpr uint8_t kEraseFailed = 'A';

constexpr size_t kEpromTypeRequest = 7;
constexpr size_t kUploadRequest = 10;
constexpr size_t kChecksumRequest = 10;
constexpr size_t kEraseRequest = 11;
constexpr size_t kProgramHeader = 9;
constexpr size_t kDspEraseRequest = 5;
constexpr size_t kDspWriteRequest = 245;
constexpr uint32_t kDspMaxWordsPerPacket = 60;
constexpr size_t kUploadAnswerHeader = 10;
constexpr size_t kMaxPacketData = 255;

// The processor board's own flash (see addBoardBank).
constexpr uint8_t kChipAm29F040 = 22;
constexpr uint8_t kChipI28F020 = 20;
constexpr uint32_t kExtensionBankStart = 0x50000;
constexpr uint32_t kBoardBankStart = 0x80000;
constexpr uint32_t kBoardChips = 2;

uint32_t le32(const std::vector<uint8_t>& data, size_t at) {
  return static_cast<uint32_t>(data[at]) | static_cast<uint32_t>(data[at + 1]) << 8 |
         static_cast<uint32_t>(data[at + 2]) << 16 | static_cast<uint32_t>(data[at + 3]) << 24;
}

void putLe32(std::vector<uint8_t>& data, uint32_t value) {
  for (int i = 0; i < 4; ++i) data.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

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

// The old firmware of a bank: the same for the same bank start, however the bank came to be
// known, so that an identification after an upload finds what the upload read.
uint64_t Instrument::oldContentsSeed(uint32_t start) const {
  return options.seed ^ (uint64_t{start} << 8);
}

// The flash that a ZEL processor board carries, on its 16-bit bus with byte addresses:
// two AM29F040 at 0x50000 with the memory extension, else two I28F020 at 0x80000.
namespace {
struct BoardFlash {
  const ChipType* type;
  uint32_t start;
};
BoardFlash boardFlash(bool extension) {
  return {findChipType(extension ? kChipAm29F040 : kChipI28F020),
          extension ? kExtensionBankStart : kBoardBankStart};
}
}  // namespace

void Instrument::installBoardFlash() {
  const BoardFlash board = boardFlash(memoryExtension());
  if (banks.size() == 1 && banks[0].type == board.type && banks[0].start == board.start) return;
  banks.clear();
  banks.emplace_back(*board.type, kBoardChips, board.start, 1, oldContentsSeed(board.start));
}

void Instrument::addBoardBank(uint32_t address) {
  if (addressUnit != 1) return;  // a word-addressed processor: not this board
  const BoardFlash board = boardFlash(memoryExtension());
  const uint64_t last = uint64_t{board.start} + uint64_t{board.type->sizeBytes} * kBoardChips - 1;
  if (address < board.start || address > last) return;
  for (const FlashBank& old : banks) {
    if (old.start <= last && board.start <= old.end()) return;
  }
  banks.emplace_back(*board.type, kBoardChips, board.start, 1, oldContentsSeed(board.start));
}

const ChipType* Instrument::identifiedType(const FlashBank& bank) const {
  if (!options.chipManufacturer) return bank.type;
  return findChipTypeByCodes(*options.chipManufacturer, *options.chipDevice);
}

uint8_t Instrument::checkFlashRequest(uint8_t busWidth, uint8_t chipType, uint32_t address,
                                      uint64_t lengthBytes, FlashBank*& bank) {
  bank = bankHolding(address);
  uint32_t outside = 0;
  if (bank == nullptr || !bank->holds(address, lengthBytes, outside)) return kErrorAddress;
  if (chipsForBusWidth(busWidth) != bank->chips) return kErrorBadRequest;
  if (chipType != 0) {
    const ChipType* identified = identifiedType(*bank);
    if (identified == nullptr || identified->code != chipType) return kErrorBadRequest;
  }
  return 0;
}

// 0x21: bus width, chip type, bank start. Answers the codes that the chips there report.
// flash=any lays the bank out from what the host names; a bank asked for again, or the
// board's own bank read by an upload before, keeps its contents.
void Instrument::commandEpromType(const std::vector<uint8_t>& data, Nanos readyAt) {
  const ChipType* type = findChipType(data[2]);
  const uint32_t chips = chipsForBusWidth(data[1]);
  if (type == nullptr || chips == 0) {
    queueErrorAnswer(readyAt, kErrorBadRequest);
    return;
  }
  const uint32_t start = le32(data, 3);
  if (options.flash == FlashLayout::Any) {
    const uint64_t units = static_cast<uint64_t>(type->sizeBytes) * chips / addressUnit;
    if (static_cast<uint64_t>(start) + units - 1 > UINT32_MAX) {
      queueErrorAnswer(readyAt, kErrorAddress);
      return;
    }
    const auto same = std::find_if(banks.begin(), banks.end(), [&](const FlashBank& bank) {
      return bank.start == start && bank.type == type && bank.chips == chips &&
             bank.addressUnit == addressUnit;
    });
    if (same == banks.end()) {
      FlashBank bank(*type, chips, start, addressUnit, oldContentsSeed(start));
      std::erase_if(banks, [&](const FlashBank& old) {
        return old.start <= bank.end() && bank.start <= old.end();
      });
      banks.push_back(std::move(bank));
    }
  }
  // The chips are identified by what they report, whatever type the host expects.
  FlashBank* bank = nullptr;
  const uint8_t error = checkFlashRequest(data[1], 0, start, 1, bank);
  if (error != 0) {
    queueErrorAnswer(readyAt, error);
    return;
  }
  if (!programmingPower) {
    queueErrorAnswer(readyAt, kErrorBusy);
    return;
  }
  const uint8_t manufacturer = options.chipManufacturer.value_or(bank->type->manufacturerCode);
  const uint8_t device = options.chipDevice.value_or(bank->type->deviceCode);
  std::vector<uint8_t> answer = {static_cast<uint8_t>(kCmdEpromType + kAnswerOffset)};
  // Chip positions that the bus leaves empty read as a floating bus.
  for (uint32_t i = 0; i < 4; ++i) answer.push_back(i < bank->chips ? manufacturer : 0xFF);
  for (uint32_t i = 0; i < 4; ++i) answer.push_back(i < bank->chips ? device : 0xFF);
  queuePacket(readyAt, answer);
}

// 0x24: bus width, address, byte count. Answer: code, 5 unused bytes, count, data.
void Instrument::commandUpload(const std::vector<uint8_t>& data, Nanos readyAt) {
  const uint32_t address = le32(data, 2);
  const uint32_t count = le32(data, 6);
  if (count > kMaxPacketData - kUploadAnswerHeader) {
    queueErrorAnswer(readyAt, kErrorBadRequest);
    return;
  }
  std::vector<uint8_t> answer = {static_cast<uint8_t>(kCmdUpload + kAnswerOffset), 0, 0, 0, 0, 0};
  putLe32(answer, count);
  // Uploads save flash contents before the chips are identified: with flash=any they read
  // the board's own flash then.
  if (options.flash == FlashLayout::Any && bankAt(address) == nullptr) addBoardBank(address);
  FlashBank* bank = nullptr;
  const uint8_t error = checkFlashRequest(data[1], 0, address, count, bank);
  if (error != 0) {
    queueErrorAnswer(readyAt, error);
    return;
  }
  const std::vector<uint8_t> bytes = flashBytes(address, count);
  answer.insert(answer.end(), bytes.begin(), bytes.end());
  queuePacket(readyAt + count * kChecksumNsPerByte, answer);
}

// 0x25: bus width, chip type, address, count (2), data. Answer A5 00 when programmed,
// A5 "C" address when a byte could not be programmed there.
void Instrument::commandProgram(const std::vector<uint8_t>& data, Nanos readyAt) {
  ++counters.programPackets;
  const uint8_t positive = static_cast<uint8_t>(kCmdProgram + kAnswerOffset);
  // Every answer to program data that is not the positive one is followed by a status
  // packet, which the host receives and discards.
  const auto refuse = [&](uint8_t error) {
    queueErrorAnswer(readyAt, error);
    queueErrorAnswer(readyAt, error);
  };
  if (data.size() < kProgramHeader ||
      static_cast<size_t>(data[7] | data[8] << 8) != data.size() - kProgramHeader) {
    refuse(kErrorBadRequest);
    return;
  }
  const uint32_t address = le32(data, 3);
  const uint32_t count = static_cast<uint32_t>(data.size() - kProgramHeader);
  FlashBank* bank = nullptr;
  const uint8_t error = checkFlashRequest(data[1], data[2], address, count, bank);
  if (error != 0) {
    refuse(error);
    return;
  }
  if (!programmingPower) {
    refuse(kErrorBusy);  // without programming voltage nothing goes in
    return;
  }
  if (m_nacksGiven < options.faults.nack) {
    // Not ready for the data.
    ++m_nacksGiven;
    fire("nack");
    refuse(kErrorBusy);
    return;
  }
  const uint32_t offset = bank->offsetOf(address);
  uint32_t toProgram = count;
  int64_t failedAt = -1;
  if (options.faults.programFail && count > 0) {
    fire("program-fail");
    toProgram = static_cast<uint32_t>(m_addressRandom.below(count));
    failedAt = offset + toProgram;
  }
  const int64_t bitsFailed = bank->program(offset, data.data() + kProgramHeader, toProgram);
  if (bitsFailed >= 0) failedAt = bitsFailed;
  if (failedAt < 0 && options.faults.flashCorrupt) corruptProgrammed(*bank, offset, toProgram);
  const Nanos work = toProgram * kProgramNsPerByte / bank->chips;
  if (failedAt >= 0) {
    std::vector<uint8_t> answer = {positive, kProgramFailed};
    putLe32(answer, bank->addressOf(static_cast<uint32_t>(failedAt)));
    queuePacket(readyAt + work, answer);
    return;
  }
  queuePacket(readyAt + work, {positive, 0x00});
}

// 0x26: bus width, address, length in bytes. Answer: the 32-bit sum of the bytes.
void Instrument::commandChecksum(const std::vector<uint8_t>& data, Nanos readyAt) {
  const uint32_t address = le32(data, 2);
  const uint32_t length = le32(data, 6);
  FlashBank* bank = nullptr;
  const uint8_t error = checkFlashRequest(data[1], 0, address, length, bank);
  if (error != 0) {
    queueErrorAnswer(readyAt, error);
    return;
  }
  uint32_t sum = bank->sum(bank->offsetOf(address), length);
  if (!firmwareValid) m_checksumSinceErase = true;
  if (options.faults.checksumOff) {
    fire("checksum-off");
    sum += 1 + static_cast<uint32_t>(m_addressRandom.below(0xFFFF));
  }
  std::vector<uint8_t> answer = {static_cast<uint8_t>(kCmdChecksum + kAnswerOffset)};
  putLe32(answer, sum);
  queuePacket(readyAt + length * kChecksumNsPerByte, answer);
}

// 0x27: bus width, chip type, start, length in bytes. Erases every block the area touches;
// answers A7 00 when done, A7 "A" address when the erase failed there.
void Instrument::commandErase(const std::vector<uint8_t>& data, Nanos readyAt) {
  const uint8_t positive = static_cast<uint8_t>(kCmdErase + kAnswerOffset);
  m_corruptedThisUpdate = false;  // flash-corrupt strikes again in what is programmed next
  const uint32_t start = le32(data, 3);
  const uint32_t length = le32(data, 7);
  FlashBank* bank = nullptr;
  const uint8_t error = checkFlashRequest(data[1], data[2], start, length, bank);
  if (error != 0) {
    queueErrorAnswer(readyAt, error);
    return;
  }
  if (!programmingPower) {
    queueErrorAnswer(readyAt, kErrorBusy);
    return;
  }
  const uint32_t offset = bank->offsetOf(start);
  int64_t stopAt = -1;
  if (options.faults.eraseFail && length > 0) {
    fire("erase-fail");
    stopAt = offset + static_cast<int64_t>(m_addressRandom.below(length));
  }
  const uint32_t blocks = bank->erase(offset, length, stopAt);
  // What ran from this flash is gone until an update ends with its checksum and boot; the
  // mark is kept at once, so that a host killed now leaves an instrument that knows it.
  m_checksumSinceErase = false;
  if (firmwareValid) {
    firmwareValid = false;
    saveState();
  }
  const Nanos work =
      static_cast<Nanos>(blocks + (stopAt >= 0 ? 1 : 0)) * bank->type->eraseBlockMs * kNanosPerMs;
  if (stopAt >= 0) {
    std::vector<uint8_t> answer = {positive, kEraseFailed};
    putLe32(answer, bank->addressOf(static_cast<uint32_t>(stopAt)));
    queuePacket(readyAt + work, answer);
    return;
  }
  queuePacket(readyAt + work, {positive, 0x00});
}

// The DSP module's four commands, relayed to the module by the transfer program.
void Instrument::commandDsp(const std::vector<uint8_t>& data, Nanos readyAt) {
  const uint8_t command = data[0];
  const uint8_t positive = static_cast<uint8_t>(command + kAnswerOffset);
  const bool available = dspAvailable();
  if (dsp.flash.empty()) dsp.flash.assign(kDspFlashWords, 0xFFFFFFFFu);

  std::vector<uint8_t> answer = {positive};
  switch (command) {
    case kCmdDspPrepare:
      // Switches the module on (a B1 module is otherwise powered only in QAM mode).
      if (!dspFitted()) {
        queueErrorAnswer(readyAt, kErrorBusy);
        return;
      }
      dsp.prepared = true;
      queuePacket(readyAt, answer);
      return;

    case kCmdDspErase: {
      // The module takes its 5 s whatever the outcome; the host waits that long.
      uint32_t status = kDspStatusOk;
      const uint32_t words = le32(data, 1);
      if (!available) {
        status = kDspStatusNoModule;
      } else if (words > kDspFlashWords) {
        status = kDspStatusTooLarge;
      } else if (options.faults.dspEraseFail) {
        fire("dsp-erase-fail");
        status = kDspStatusEraseFailed;
      } else {
        std::fill(dsp.flash.begin(), dsp.flash.begin() + words, 0xFFFFFFFFu);
        dsp.erasedWords = words;
        dsp.writtenWords = 0;
      }
      putLe32(answer, status);
      queuePacket(readyAt + kDspEraseNs, answer);
      return;
    }

    case kCmdDspWrite: {
      const uint32_t count = le32(data, 1);
      uint32_t status = kDspStatusOk;
      if (!available) {
        status = kDspStatusNoModule;
      } else if (count == 0 || count > kDspMaxWordsPerPacket) {
        status = kDspStatusBadCount;
      } else if (dsp.writtenWords + count > dsp.erasedWords) {
        status = kDspStatusNotErased;
      } else {
        for (uint32_t i = 0; i < count; ++i) {
          uint32_t& word = dsp.flash[dsp.writtenWords + i];
          word &= le32(data, 5 + 4 * i);
        }
        dsp.writtenWords += count;
      }
      putLe32(answer, status);
      queuePacket(readyAt + count * kDspWriteNsPerWord, answer);
      return;
    }

    case kCmdDspChecksum: {
      uint32_t sum = 0;
      uint32_t status = kDspStatusOk;
      if (!available) {
        status = kDspStatusNoModule;
      } else {
        for (uint32_t i = 0; i < dsp.erasedWords; ++i) sum += dsp.flash[i];
        if (options.faults.dspChecksumOff) {
          fire("dsp-checksum-off");
          sum += 1 + static_cast<uint32_t>(m_addressRandom.below(0xFFFF));
        }
      }
      putLe32(answer, sum);
      putLe32(answer, status);
      queuePacket(readyAt + kDspChecksumNs, answer);
      return;
    }
  }
}

}  // namespace sim
