// The flash memory of the simulated instrument: banks of byte-wide chips side by side on
// a bus of 8, 16 or 32 bits, with the rules of real flash: erased cells read 0xFF,
// programming can only clear bits, erasing works on whole blocks and takes its time.
#pragma once

#include <cstdint>
#include <vector>

namespace sim {

// What one chip type is on its data sheet.
struct ChipType {
  uint8_t code;  // the type number the host names in its requests
  const char* name;
  uint32_t sizeBytes;        // of one chip
  uint32_t eraseBlockBytes;  // smallest erasable block of one chip
  uint8_t manufacturerCode;
  uint8_t deviceCode;
  uint32_t eraseBlockMs;  // time to erase one block (chips of a bank erase in parallel)
};

// The chip type with this code; nullptr for an unknown code.
const ChipType* findChipType(uint8_t code);
// The chip type that reports these manufacturer and device codes; nullptr for none.
const ChipType* findChipTypeByCodes(uint8_t manufacturer, uint8_t device);

// Bus width codes of the requests: 1 = 8 bits, 2 = 16 bits, 3 = 32 bits.
// Chips side by side for a bus width code; 0 for an unknown code.
uint32_t chipsForBusWidth(uint8_t busWidth);

class FlashBank {
 public:
  // A bank of `chips` chips of the type, starting at the target address `start`;
  // `addressUnit` bytes make one target address (1, or 4 on a word-addressed processor).
  // `oldContents` seeds the bytes that the bank holds before anyone erased it.
  FlashBank(const ChipType& type, uint32_t chips, uint32_t start, uint32_t addressUnit,
            uint64_t oldContents);

  const ChipType* type;
  uint32_t chips;
  uint32_t start;
  uint32_t addressUnit;
  std::vector<uint8_t> bytes;

  uint32_t sizeBytes() const { return static_cast<uint32_t>(bytes.size()); }
  // Last target address of the bank.
  uint32_t end() const { return start + sizeBytes() / addressUnit - 1; }
  bool contains(uint32_t address) const { return address >= start && address <= end(); }
  // Whether `lengthBytes` bytes from `address` lie inside the bank. When not, `outside`
  // is the first target address of the range that does not.
  bool holds(uint32_t address, uint64_t lengthBytes, uint32_t& outside) const;
  uint32_t offsetOf(uint32_t address) const { return (address - start) * addressUnit; }
  uint32_t addressOf(uint32_t offset) const { return start + offset / addressUnit; }
  // Bytes of one erase block of the whole bank (all chips together).
  uint32_t eraseBlockBytes() const { return type->eraseBlockBytes * chips; }

  // Erases every block touched by the range (inside the bank). Returns the number of
  // blocks erased. With `stopAtOffset` set, blocks from the one holding that offset on
  // stay as they were (an erase that failed there).
  uint32_t erase(uint32_t offset, uint32_t lengthBytes, int64_t stopAtOffset = -1);
  // Programs bytes at a byte offset. Returns the offset of the first byte whose bits could
  // not be set (it needs a 1 where the cell holds a 0), or -1 when all went in. Bytes
  // before a failing one are programmed.
  int64_t program(uint32_t offset, const uint8_t* data, uint32_t count);
  // 32-bit sum of the bytes of a range inside the bank.
  uint32_t sum(uint32_t offset, uint32_t lengthBytes) const;
};

}  // namespace sim
