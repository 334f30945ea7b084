// The transfer program's flash commands: identification (0x21), upload (0x24), program
// data (0x25), checksum (0x26) and erase (0x27), on the banks that the instrument carries.
//
// Flash (flash=board): the board's own chips, two side by side on its 16-bit bus: two
// AM29F040 at 0x50000-0x14FFFF with the memory extension, else two I28F020 at
// 0x80000-0xFFFFF. Requests outside them are refused with F3, a bus width or chip type
// that does not match the chips there with F2, identification, erase and program without
// programming voltage with F4. With flash=any a bank is laid out wherever an
// identification names one, of the type it names.
#include <algorithm>

#include "sim/instrument.h"
#include "sim/target_protocol.h"

namespace sim {
namespace {

constexpr uint8_t kProgramFailed = 'C';
constexpr uint8_t kEraseFailed = 'A';

constexpr size_t kProgramHeader = 9;
constexpr size_t kUploadAnswerHeader = 10;
constexpr size_t kMaxPacketData = 255;

// The processor board's own flash (see addBoardBank).
constexpr uint8_t kChipAm29F040 = 22;
constexpr uint8_t kChipI28F020 = 20;
constexpr uint32_t kExtensionBankStart = 0x50000;
constexpr uint32_t kBoardBankStart = 0x80000;
constexpr uint32_t kBoardChips = 2;

// The answer to program data or an erase: code 00 when it completed; code, the failure
// letter and the target address where it stopped when failedOffset (in the bank) is not
// negative.
std::vector<uint8_t> flashOutcome(uint8_t command, uint8_t failure, const FlashBank& bank,
                                  int64_t failedOffset) {
  const uint8_t positive = static_cast<uint8_t>(command + kAnswerOffset);
  if (failedOffset < 0) return {positive, 0x00};
  std::vector<uint8_t> answer = {positive, failure};
  putLe32(answer, bank.addressOf(static_cast<uint32_t>(failedOffset)));
  return answer;
}

}  // namespace

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
                                      uint64_t lengthBytes, bool needsPower, FlashBank*& bank) {
  bank = bankHolding(address);
  uint32_t outside = 0;
  if (bank == nullptr || !bank->holds(address, lengthBytes, outside)) return kErrorAddress;
  if (chipsForBusWidth(busWidth) != bank->chips) return kErrorBadRequest;
  if (chipType != 0) {
    const ChipType* identified = identifiedType(*bank);
    if (identified == nullptr || identified->code != chipType) return kErrorBadRequest;
  }
  if (needsPower && !programmingPower) return kErrorBusy;
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
  const uint8_t error = checkFlashRequest(data[1], 0, start, 1, true, bank);
  if (error != 0) {
    queueErrorAnswer(readyAt, error);
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
  const uint8_t error = checkFlashRequest(data[1], 0, address, count, false, bank);
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
  // Without programming voltage nothing goes in (busy).
  const uint8_t error = checkFlashRequest(data[1], data[2], address, count, true, bank);
  if (error != 0) {
    refuse(error);
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
  queuePacket(readyAt + work, flashOutcome(kCmdProgram, kProgramFailed, *bank, failedAt));
}

// 0x26: bus width, address, length in bytes. Answer: the 32-bit sum of the bytes.
void Instrument::commandChecksum(const std::vector<uint8_t>& data, Nanos readyAt) {
  const uint32_t address = le32(data, 2);
  const uint32_t length = le32(data, 6);
  FlashBank* bank = nullptr;
  const uint8_t error = checkFlashRequest(data[1], 0, address, length, false, bank);
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
  m_corruptedThisUpdate = false;  // flash-corrupt strikes again in what is programmed next
  const uint32_t start = le32(data, 3);
  const uint32_t length = le32(data, 7);
  FlashBank* bank = nullptr;
  const uint8_t error = checkFlashRequest(data[1], data[2], start, length, true, bank);
  if (error != 0) {
    queueErrorAnswer(readyAt, error);
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
  queuePacket(readyAt + work, flashOutcome(kCmdErase, kEraseFailed, *bank, stopAt));
}

}  // namespace sim
