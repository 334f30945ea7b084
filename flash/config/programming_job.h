// The flash programming job: what the programming configuration file (ROMWRITE.CNF)
// describes, plus the fields the configuration check derives from it. Target addresses
// count 32-bit words for the TMS320C30 and bytes for the I80X86; lengths are in bytes.
#pragma once

#include <cstdint>

// The numbers of these three enumerations travel to the target in link commands.
enum ProcessorType : uint8_t { I80X86 = 0, TMS320C30 = 1 };
enum Architecture : uint8_t { B8 = 1, B16 = 2, B32 = 3 };
enum FlashChip : uint8_t {
  kNoChip = 0,
  AM28F010 = 17,
  I28F010 = 18,
  AM28F020 = 19,
  I28F020 = 20,
  AM29F010 = 21,
  AM29F040 = 22,
};

inline constexpr int kMaxJobEntries = 10;  // banks, erase areas, programs, uploads each
inline constexpr int kUartSize = 10;       // 9 characters and NUL
inline constexpr int kFileNameSize = 80;   // 79 characters and NUL
inline constexpr int kChipNameSize = 20;
// "--NONE--" as loader or transfer program: nothing is downloaded.
inline constexpr const char* kNoFile = "--NONE--";

struct MemoryBank {
  uint32_t start;
  uint32_t length;
  uint32_t end;  // check
  uint8_t chipType;
  char chipName[kChipNameSize];  // check, from the chip table
  uint8_t manufacturerCode;      // check
  uint8_t deviceCode;            // check
  uint8_t chipClass;             // check
};

struct EraseArea {
  uint32_t start;
  uint32_t end;  // check
  uint32_t length;
  // check: the bank that holds the area
  char bankChipName[kChipNameSize];
  uint32_t bankStart;
  uint32_t bankEnd;
  uint8_t bankChipType;
};

struct ProgramFile {
  char fileName[kFileNameSize];  // upper-cased
  uint32_t address;
  uint32_t end;     // check
  uint32_t length;  // check: bytes to program
  // check: the bank that holds the file (bankChipType 0 until found)
  char bankChipName[kChipNameSize];
  uint32_t bankStart;
  uint32_t bankEnd;
  uint8_t bankChipType;
};

struct UploadArea {
  uint32_t start;
  uint32_t end;  // check
  uint32_t length;
  char fileName[kFileNameSize];  // upper-cased
};

struct ProgrammingJob {
  char uart[kUartSize];  // as written; nothing acts on it
  uint32_t baud;
  uint8_t flashUpString;  // kept; nothing acts on it
  uint8_t continueFlag;   // kept; nothing acts on it
  char bootstrapLoaderFile[kFileNameSize];
  char transferFile[kFileNameSize];
  uint32_t transferLoadAddress;
  uint32_t transferEnd;  // check; 0 without a transfer program
  uint32_t transferStartAddress;
  int32_t transferLength;  // check
  uint8_t processor;       // ProcessorType
  uint8_t architecture;    // Architecture
  uint8_t bankCount;       // check
  uint8_t eraseCount;      // check
  uint8_t uploadCount;     // check
  uint8_t programCount;    // check
  MemoryBank banks[kMaxJobEntries];
  EraseArea eraseAreas[kMaxJobEntries];
  ProgramFile programs[kMaxJobEntries];
  UploadArea uploads[kMaxJobEntries];

  // The bytes of all erase areas (a count beyond the tables is cut to them).
  uint64_t erasedBytes() const;
};

// The one program-wide job that every update run reads anew.
extern ProgrammingJob programmingJob;

// Bytes per target address: 4 for the TMS320C30, else 1.
inline uint32_t addressUnit(const ProgrammingJob& job) {
  return job.processor == TMS320C30 ? 4 : 1;
}
// Byte-wide chips side by side in one bank: 2 for B16, 4 for B32, else 1.
inline uint32_t chipsPerBank(const ProgrammingJob& job) {
  return job.architecture == B16 ? 2 : job.architecture == B32 ? 4 : 1;
}
