#include "sim/flash_bank.h"

#include <algorithm>

#include "sim/random.h"

namespace sim {
namespace {

// Erase times per block are typical data-sheet values; the 28F types first program every
// cell to 0 and then erase the whole chip, which is why they take longer.
constexpr ChipType kChipTypes[] = {
    {17, "AM28F010", 0x20000, 0x20000, 0x01, 0xA7, 2000},
    {18, "I28F010", 0x20000, 0x20000, 0x89, 0xB4, 2000},
    {19, "AM28F020", 0x40000, 0x40000, 0x01, 0x2A, 3500},
    {20, "I28F020", 0x40000, 0x40000, 0x89, 0xBD, 3500},
    {21, "AM29F010", 0x20000, 0x4000, 0x01, 0x20, 400},
    {22, "AM29F040", 0x80000, 0x10000, 0x01, 0xA4, 1000},
};

}  // namespace

const ChipType* findChipType(uint8_t code) {
  for (const ChipType& type : kChipTypes) {
    if (type.code == code) return &type;
  }
  return nullptr;
}

const ChipType* findChipTypeByCodes(uint8_t manufacturer, uint8_t device) {
  for (const ChipType& type : kChipTypes) {
    if (type.manufacturerCode == manufacturer && type.deviceCode == device) return &type;
  }
  return nullptr;
}

uint32_t chipsForBusWidth(uint8_t busWidth) {
  switch (busWidth) {
    case 1:
      return 1;
    case 2:
      return 2;
    case 3:
      return 4;
    default:
      return 0;
  }
}

FlashBank::FlashBank(const ChipType& chipType, uint32_t chipCount, uint32_t startAddress,
                     uint32_t unit, uint64_t oldContents)
    : type(&chipType),
      chips(chipCount),
      start(startAddress),
      addressUnit(unit),
      bytes(static_cast<size_t>(chipType.sizeBytes) * chipCount) {
  // The firmware that was there before: anything but erased cells.
  Random random(oldContents);
  for (size_t i = 0; i < bytes.size(); i += 8) {
    uint64_t value = random.next();
    for (size_t j = i; j < i + 8 && j < bytes.size(); ++j, value >>= 8) {
      bytes[j] = static_cast<uint8_t>(value);
    }
  }
}

bool FlashBank::holds(uint32_t address, uint64_t lengthBytes, uint32_t& outside) const {
  if (!contains(address)) {
    outside = address;
    return false;
  }
  const uint64_t endOffset = static_cast<uint64_t>(offsetOf(address)) + lengthBytes;
  if (endOffset > bytes.size()) {
    outside = end() + 1;
    return false;
  }
  return true;
}

uint32_t FlashBank::erase(uint32_t offset, uint32_t lengthBytes, int64_t stopAtOffset) {
  if (lengthBytes == 0) return 0;
  const uint32_t block = eraseBlockBytes();
  const uint32_t first = offset / block;
  const uint32_t last =
      static_cast<uint32_t>((static_cast<uint64_t>(offset) + lengthBytes - 1) / block);
  uint32_t erased = 0;
  for (uint32_t b = first; b <= last; ++b) {
    const uint64_t blockStart = static_cast<uint64_t>(b) * block;
    if (blockStart >= bytes.size()) break;
    if (stopAtOffset >= 0 && static_cast<int64_t>(blockStart + block) > stopAtOffset) break;
    const uint64_t blockEnd = std::min<uint64_t>(blockStart + block, bytes.size());
    std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(blockStart),
              bytes.begin() + static_cast<std::ptrdiff_t>(blockEnd), uint8_t{0xFF});
    ++erased;
  }
  return erased;
}

int64_t FlashBank::program(uint32_t offset, const uint8_t* data, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    const size_t at = static_cast<size_t>(offset) + i;
    if (at >= bytes.size()) return static_cast<int64_t>(at);
    const uint8_t result = bytes[at] & data[i];
    bytes[at] = result;
    if (result != data[i]) return static_cast<int64_t>(at);
  }
  return -1;
}

uint32_t FlashBank::sum(uint32_t offset, uint32_t lengthBytes) const {
  uint32_t total = 0;
  const size_t endAt = std::min<size_t>(static_cast<size_t>(offset) + lengthBytes, bytes.size());
  for (size_t i = offset; i < endAt; ++i) total += bytes[i];
  return total;
}

}  // namespace sim
