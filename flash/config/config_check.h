// The check of a ProgrammingJob read from the programming configuration file, and the
// check of the flash chips that the target reports for a bank.
#pragma once

#include <cstdint>
#include <string>

#include "flash/config/programming_job.h"

// Results.
inline constexpr int kCheckOk = 0;
inline constexpr int kCheckJobInvalid = 1537;      // 0x601, with a message naming the fault
inline constexpr int kCheckChipWrongClass = 1539;  // 0x603, "%s != %s"
inline constexpr int kCheckChipUnknown = 1540;     // 0x604, "MFC %X  DVC %X"
// A program file that runs past the flash the job erases (checkProgramsFitErasedFlash).
inline constexpr int kCheckProgramNotErased = 1541;  // 0x605

// One supported flash chip type.
struct FlashChipInfo {
  uint8_t code;             // FlashChip
  uint32_t size;            // bytes of one chip
  uint32_t eraseBlockSize;  // bytes of the smallest erasable block of one chip
  uint8_t manufacturerCode;
  uint8_t deviceCode;
  uint8_t chipClass;  // chips of one class can stand in for one another
  char name[kChipNameSize];
};

// The supported chips, ended by an entry whose code is 0. Lookups take the first match.
extern const FlashChipInfo flashChipTable[];

// The table entry for a chip code, or nullptr.
const FlashChipInfo* findFlashChip(uint8_t code);

// Derives the counts, end addresses, transfer program length, the banks' chip data and the
// bank of every erase area and program file; measures the host files (loader, transfer
// program, program files) by opening them read-only; an empty one counts as not accessible,
// since it would erase the flash and program nothing. Returns kCheckOk with "Check OK !" or
// kCheckJobInvalid at the first inconsistency with its message.
int checkProgrammingJob(ProgrammingJob& job, std::string& message);

// For a run that erases before it programs: each program file must lie wholly inside the
// areas the job erases (areas that follow one another count as one). kCheckOk, or
// kCheckProgramNotErased for the first file that does not, with a message naming the file,
// its size and the erased room from its start address: "NO_DVBT.BIN is 1048576 bytes; the
// erased area 0x50000-0xEFFFF holds 655360". Needs a job that checkProgrammingJob has
// passed (which keeps every file inside its bank). The configuration check alone does not
// ask this: a hand-written job may program flash that was erased before.
int checkProgramsFitErasedFlash(const ProgrammingJob& job, std::string& message);

// Checks the identification codes that the chips of bank bankIndex reported (chip 0 first;
// 1, 2 or 4 chips by the job's architecture) against the bank's chip class. Returns
// kCheckOk with an empty message, kCheckChipUnknown or kCheckChipWrongClass. Needs a job
// that checkProgrammingJob has passed; an index outside the checked banks gives
// kCheckJobInvalid.
int checkFlashIdentity(const ProgrammingJob& job, int bankIndex, const uint8_t mfc[4],
                       const uint8_t dvc[4], std::string& message);
