#include "flash/config/config_check.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/host_files.h"
#include "platform/whole_file.h"

const FlashChipInfo flashChipTable[] = {
    {AM28F010, 0x20000, 0x20000, 0x01, 0xA7, 1, "AM28F010"},
    {I28F010, 0x20000, 0x20000, 0x89, 0xB4, 1, "I28F010"},
    {AM28F020, 0x40000, 0x40000, 0x01, 0x2A, 2, "AM28F020"},
    {I28F020, 0x40000, 0x40000, 0x89, 0xBD, 2, "I28F020"},
    {AM29F010, 0x20000, 0x4000, 0x01, 0x20, 3, "AM29F010"},
    {AM29F040, 0x80000, 0x10000, 0x01, 0xA4, 4, "AM29F040"},
    {kNoChip, 0, 0, 0, 0, 0, ""},
};

const FlashChipInfo* findFlashChip(uint8_t code) {
  if (code == kNoChip) return nullptr;
  for (const FlashChipInfo* chip = flashChipTable; chip->code != kNoChip; ++chip) {
    if (chip->code == code) return chip;
  }
  return nullptr;
}

namespace {

constexpr uint32_t kLoaderClockRate = 115200;  // the loader divides it by the line speed
// The loader receives the divisor in one byte: 115200 / 255 and below cannot be carried.
constexpr uint32_t kMaxLoaderDivisor = 255;
constexpr uint32_t kMaxLoaderLength = 0x200;
constexpr uint32_t kLengthGranule = 4;  // TMS320C30 files are whole 32-bit words
constexpr const char* kCheckOkMessage = "Check OK !";

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

// printf into a string of whatever length the text needs (two file names can exceed any
// fixed buffer).
std::string format(const char* pattern, ...) {
  va_list args;
  va_start(args, pattern);
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, pattern, copy);
  va_end(copy);
  std::string text;
  if (needed > 0) {
    text.resize(static_cast<size_t>(needed) + 1);
    std::vsnprintf(text.data(), text.size(), pattern, args);
    text.resize(static_cast<size_t>(needed));
  }
  va_end(args);
  return text;
}

unsigned long hex(uint32_t value) {
  return value;
}

// The length in bytes of a host file, opened read-only and closed again. False when it
// cannot be opened, is no regular file, or is too long for the job's 32-bit lengths. Only
// a regular file is opened at all: opening a named pipe for reading would wait for a
// writer without end.
bool hostFileLength(const char* name, uint32_t& length) {
  const std::string path = platform::resolveHostFile(name);
  uint64_t bytes = 0;
  platform::FileReader reader;
  if (!platform::regularFileSize(path, bytes) || !reader.open(path)) return false;
  if (bytes > 0x7FFFFFFF) return false;
  length = static_cast<uint32_t>(bytes);
  return true;
}

// Last address of a region of length bytes at start (32-bit arithmetic, as in the job).
uint32_t regionEnd(uint32_t start, uint32_t length, uint32_t unit) {
  return start + length / unit - 1;
}

// True when a region of length bytes at start runs past the top of the address space, so
// that its end wrapped to a low address.
bool regionWraps(uint32_t start, uint32_t length, uint32_t unit) {
  const uint64_t units = length / unit;
  return units > 0 && start + units - 1 > 0xFFFFFFFFu;
}

bool inside(uint32_t value, uint32_t first, uint32_t last) {
  return first <= value && value <= last;
}

void copyName(char (&to)[kChipNameSize], const char* from) {
  const size_t length = std::min(std::strlen(from), sizeof to - 1);
  std::memcpy(to, from, length);
  to[length] = '\0';
}

bool isNone(const char* fileName) {
  return std::strcmp(fileName, kNoFile) == 0;
}

// Steps 1 to 4: counts and end addresses. The first entry of length 0 (or the first
// program without a name) ends each list. All derived fields are cleared first so that a
// job checked twice gives the same result.
void deriveCounts(ProgrammingJob& job, uint32_t unit) {
  job.bankCount = job.eraseCount = job.programCount = job.uploadCount = 0;
  job.transferEnd = 0;
  job.transferLength = 0;
  for (MemoryBank& bank : job.banks) {
    bank.end = 0;
    bank.chipName[0] = '\0';
    bank.manufacturerCode = bank.deviceCode = bank.chipClass = 0;
  }
  for (EraseArea& area : job.eraseAreas) {
    area.end = area.bankStart = area.bankEnd = 0;
    area.bankChipName[0] = '\0';
    area.bankChipType = kNoChip;
  }
  for (ProgramFile& program : job.programs) {
    program.end = program.length = program.bankStart = program.bankEnd = 0;
    program.bankChipName[0] = '\0';
    program.bankChipType = kNoChip;
  }
  for (UploadArea& upload : job.uploads) upload.end = 0;

  while (job.bankCount < kMaxJobEntries && job.banks[job.bankCount].length != 0) {
    MemoryBank& bank = job.banks[job.bankCount++];
    bank.end = regionEnd(bank.start, bank.length, unit);
  }
  while (job.eraseCount < kMaxJobEntries && job.eraseAreas[job.eraseCount].length != 0) {
    EraseArea& area = job.eraseAreas[job.eraseCount++];
    area.end = regionEnd(area.start, area.length, unit);
  }
  while (job.programCount < kMaxJobEntries && job.programs[job.programCount].fileName[0] != '\0') {
    ++job.programCount;
  }
  while (job.uploadCount < kMaxJobEntries && job.uploads[job.uploadCount].length != 0) {
    UploadArea& upload = job.uploads[job.uploadCount++];
    upload.end = regionEnd(upload.start, upload.length, unit);
  }
}

int fail(std::string& message, std::string text) {
  message = std::move(text);
  return kCheckJobInvalid;
}

// What every check of a job reads from its processor and architecture.
struct JobShape {
  uint32_t unit;   // bytes per target address
  uint32_t chips;  // chips side by side in a bank
  bool wordFiles;  // file lengths must be whole 32-bit words
};

// Each check below returns kCheckOk, or kCheckJobInvalid with the message of the first
// inconsistency it finds; a later check may rely on what an earlier one derived.

// The value is shown as the file holds it (unsigned), not as a negative number. A rate
// whose divisor does not fit the loader's byte (300 would go out as 128) is refused too.
int checkBaudRate(ProgrammingJob& job, const JobShape&, std::string& message) {
  if (job.baud == 0 || kLoaderClockRate % job.baud != 0 ||
      kLoaderClockRate / job.baud > kMaxLoaderDivisor) {
    return fail(message,
                format("Baudrate %lu not available", static_cast<unsigned long>(job.baud)));
  }
  return kCheckOk;
}

int checkBootstrapLoader(ProgrammingJob& job, const JobShape& shape, std::string& message) {
  if (isNone(job.bootstrapLoaderFile)) return kCheckOk;
  uint32_t length = 0;
  if (!hostFileLength(job.bootstrapLoaderFile, length) || length == 0) {
    return fail(message, format("Bootstraploader %s not accessible", job.bootstrapLoaderFile));
  }
  if (length > kMaxLoaderLength) {
    return fail(message, format("Bootstraploader %s too long\nMax. lenght = %X Bytes",
                                job.bootstrapLoaderFile, kMaxLoaderLength));
  }
  if (shape.wordFiles && length % kLengthGranule != 0) {
    return fail(message, format("Length of bootstraploader %s must be devisible by 4",
                                job.bootstrapLoaderFile));
  }
  return kCheckOk;
}

// Measures the transfer program and derives the end of its load range.
int checkTransferProgram(ProgrammingJob& job, const JobShape& shape, std::string& message) {
  if (isNone(job.transferFile)) return kCheckOk;
  uint32_t length = 0;
  if (!hostFileLength(job.transferFile, length) || length == 0) {
    return fail(message, format("Transferprogram %s not accessible", job.transferFile));
  }
  job.transferLength = static_cast<int32_t>(length);
  job.transferEnd = regionEnd(job.transferLoadAddress, length, shape.unit);
  if (shape.wordFiles && length % kLengthGranule != 0) {
    return fail(message,
                format("Length of transferprogram %s must be devisible by 4", job.transferFile));
  }
  return kCheckOk;
}

// The transfer program runs from RAM: no bank may share an address with it. Besides a
// bank whose first or last address lies in the program's range, a program that lies
// wholly inside a bank is refused too.
int checkTransferOutsideBanks(ProgrammingJob& job, const JobShape&, std::string& message) {
  const bool transferRange =
      !isNone(job.transferFile) && job.transferLoadAddress <= job.transferEnd;
  for (int i = 0; i < job.bankCount; ++i) {
    const MemoryBank& bank = job.banks[i];
    if (inside(bank.start, job.transferLoadAddress, job.transferEnd) ||
        inside(bank.end, job.transferLoadAddress, job.transferEnd) ||
        (transferRange && inside(job.transferLoadAddress, bank.start, bank.end))) {
      return fail(message, format("Transferprogram from %lX to %lX cannot be loaded into "
                                  "flash-memory bank from %lX to %lX",
                                  hex(job.transferLoadAddress), hex(job.transferEnd),
                                  hex(bank.start), hex(bank.end)));
    }
  }
  return kCheckOk;
}

// Gives every bank its chip's name and codes; its length must be that of its chips.
int checkBankChips(ProgrammingJob& job, const JobShape& shape, std::string& message) {
  for (int i = 0; i < job.bankCount; ++i) {
    MemoryBank& bank = job.banks[i];
    const FlashChipInfo* chip = findFlashChip(bank.chipType);
    if (!chip) {
      return fail(message, format("Flash chip type %u of the bank at address %lX not supported",
                                  static_cast<unsigned>(bank.chipType), hex(bank.start)));
    }
    copyName(bank.chipName, chip->name);
    bank.manufacturerCode = chip->manufacturerCode;
    bank.deviceCode = chip->deviceCode;
    bank.chipClass = chip->chipClass;
    if (bank.length != chip->size * shape.chips) {
      return fail(message, format("A bank of %s at address %lX must have a length of %lX bytes",
                                  bank.chipName, hex(bank.start), hex(chip->size * shape.chips)));
    }
  }
  return kCheckOk;
}

// The first pair of regions of which one starts or ends inside the other, as "A from .. to ..
// is overlapping B from .. to ..", by the regions' name, first and last address.
template <typename Region, size_t N>
int checkApart(const Region* regions, int count, const char (Region::*name)[N],
               uint32_t Region::*first, uint32_t Region::*last, std::string& message) {
  for (int i = 0; i < count; ++i) {
    const Region& a = regions[i];
    for (int j = 0; j < count; ++j) {
      const Region& b = regions[j];
      if (i == j) continue;
      if (inside(a.*first, b.*first, b.*last) || inside(a.*last, b.*first, b.*last)) {
        return fail(message,
                    format("%s from %lX to %lX  is overlapping  %s from %lX to %lX", a.*name,
                           hex(a.*first), hex(a.*last), b.*name, hex(b.*first), hex(b.*last)));
      }
    }
  }
  return kCheckOk;
}

int checkBanksApart(ProgrammingJob& job, const JobShape&, std::string& message) {
  return checkApart(job.banks, job.bankCount, &MemoryBank::chipName, &MemoryBank::start,
                    &MemoryBank::end, message);
}

// Every erase area lies in one bank, in whole erase blocks of its chips; it takes the bank's
// data.
int checkEraseAreas(ProgrammingJob& job, const JobShape& shape, std::string& message) {
  for (int i = 0; i < job.eraseCount; ++i) {
    EraseArea& area = job.eraseAreas[i];
    const MemoryBank* holder = nullptr;
    // An area whose end wrapped past the top of the address space lies in no bank.
    if (!regionWraps(area.start, area.length, shape.unit)) {
      for (int b = 0; b < job.bankCount && !holder; ++b) {
        const MemoryBank& bank = job.banks[b];
        if (bank.start <= area.start && area.end <= bank.end) holder = &bank;
      }
    }
    if (!holder) {
      return fail(message, format("Erasearea from %lX to %lX not inside a flash-memory bank",
                                  hex(area.start), hex(area.end)));
    }
    copyName(area.bankChipName, holder->chipName);
    area.bankStart = holder->start;
    area.bankEnd = holder->end;
    area.bankChipType = holder->chipType;
    const uint32_t block = findFlashChip(holder->chipType)->eraseBlockSize * shape.chips;
    if (area.length % block != 0) {
      return fail(message,
                  format("Cannot erase %lX bytes at address %lX on %s\nEraseable blocksize = "
                         "%lX Bytes",
                         hex(area.length), hex(area.start), area.bankChipName, hex(block)));
    }
    if ((area.start - holder->start) % (block / shape.unit) != 0) {
      return fail(message, format("Cannot erase a block on %s beginning at %lX", area.bankChipName,
                                  hex(area.start)));
    }
  }
  return kCheckOk;
}

// Measures every program file and derives its end address.
int checkProgramFiles(ProgrammingJob& job, const JobShape& shape, std::string& message) {
  for (int i = 0; i < job.programCount; ++i) {
    ProgramFile& program = job.programs[i];
    // A file that an upload writes first need not exist yet: it takes the upload's length.
    const UploadArea* upload = nullptr;
    for (int u = 0; u < job.uploadCount && !upload; ++u) {
      if (std::strcmp(job.uploads[u].fileName, program.fileName) == 0) upload = &job.uploads[u];
    }
    if (upload) {
      program.length = upload->length;
    } else if (!hostFileLength(program.fileName, program.length) || program.length == 0) {
      return fail(message, format("Programfile %s not accessible", program.fileName));
    }
    program.end = regionEnd(program.address, program.length, shape.unit);
    if (shape.wordFiles && program.length % kLengthGranule != 0) {
      return fail(message,
                  format("Length of programfile %s must be devisible by 4", program.fileName));
    }
  }
  return kCheckOk;
}

int checkProgramsApart(ProgrammingJob& job, const JobShape&, std::string& message) {
  return checkApart(job.programs, job.programCount, &ProgramFile::fileName, &ProgramFile::address,
                    &ProgramFile::end, message);
}

// Every program file lies wholly in one bank; it takes the bank's data.
int checkProgramsInBanks(ProgrammingJob& job, const JobShape& shape, std::string& message) {
  for (int i = 0; i < job.programCount; ++i) {
    ProgramFile& program = job.programs[i];
    const bool wraps = regionWraps(program.address, program.length, shape.unit);
    for (int b = 0; b < job.bankCount; ++b) {
      const MemoryBank& bank = job.banks[b];
      if (!inside(program.address, bank.start, bank.end)) continue;
      // A file whose end wrapped past the top of the address space runs out of the bank.
      if (wraps || program.end > bank.end) {
        return fail(message,
                    format("%s is not completely in one flash-memory bank", program.fileName));
      }
      copyName(program.bankChipName, bank.chipName);
      program.bankStart = bank.start;
      program.bankEnd = bank.end;
      program.bankChipType = bank.chipType;
    }
    if (program.bankChipType == kNoChip) {
      return fail(message, format("%s from %lX to %lX is not inside a flash-memory bank",
                                  program.fileName, hex(program.address), hex(program.end)));
    }
  }
  return kCheckOk;
}

using JobCheck = int (*)(ProgrammingJob&, const JobShape&, std::string&);

// The checks in the order in which their messages are reported: the first that fails ends
// the check.
constexpr JobCheck kJobChecks[] = {
    checkBaudRate,      checkBootstrapLoader, checkTransferProgram, checkTransferOutsideBanks,
    checkBankChips,     checkBanksApart,      checkEraseAreas,      checkProgramFiles,
    checkProgramsApart, checkProgramsInBanks,
};

}  // namespace

int checkProgrammingJob(ProgrammingJob& job, std::string& message) {
  const JobShape shape{addressUnit(job), chipsPerBank(job), job.processor == TMS320C30};
  deriveCounts(job, shape.unit);
  for (const JobCheck check : kJobChecks) {
    if (const int result = check(job, shape, message); result != kCheckOk) return result;
  }
  message = kCheckOkMessage;
  return kCheckOk;
}

int checkProgramsFitErasedFlash(const ProgrammingJob& job, std::string& message) {
  const uint64_t unit = addressUnit(job);
  for (int i = 0; i < job.programCount && i < kMaxJobEntries; ++i) {
    const ProgramFile& program = job.programs[i];
    // The last erased address of the run of areas that holds the file's first address,
    // in 64 bits so that an area at the top of the address space does not wrap.
    bool erased = false;
    uint64_t last = 0;
    for (bool grew = true; grew;) {
      grew = false;
      for (int a = 0; a < job.eraseCount && a < kMaxJobEntries; ++a) {
        const EraseArea& area = job.eraseAreas[a];
        if (area.length / unit == 0) continue;
        const uint64_t areaLast = area.start + area.length / unit - 1;
        const uint64_t from = erased ? last + 1 : program.address;
        if (area.start <= from && from <= areaLast && (!erased || areaLast > last)) {
          erased = true;
          last = areaLast;
          grew = true;
        }
      }
    }
    const uint64_t units = program.length / unit;
    if (units == 0) continue;
    if (erased && program.address + units - 1 <= last) continue;
    if (!erased) {
      message =
          format("%s is %lu bytes; the job erases no flash at its address 0x%lX", program.fileName,
                 static_cast<unsigned long>(program.length), hex(program.address));
    } else {
      message = format("%s is %lu bytes; the erased area 0x%lX-0x%llX holds %llu", program.fileName,
                       static_cast<unsigned long>(program.length), hex(program.address),
                       static_cast<unsigned long long>(last),
                       static_cast<unsigned long long>((last - program.address + 1) * unit));
    }
    return kCheckProgramNotErased;
  }
  message.clear();
  return kCheckOk;
}

int checkFlashIdentity(const ProgrammingJob& job, int bankIndex, const uint8_t mfc[4],
                       const uint8_t dvc[4], std::string& message) {
  message.clear();
  if (bankIndex < 0 || bankIndex >= job.bankCount || bankIndex >= kMaxJobEntries) {
    message = format("No flash-memory bank %d in the job", bankIndex);
    return kCheckJobInvalid;
  }
  const MemoryBank& bank = job.banks[bankIndex];
  const uint32_t chips = chipsPerBank(job);
  for (uint32_t i = 0; i < chips; ++i) {
    const FlashChipInfo* found = nullptr;
    for (const FlashChipInfo* chip = flashChipTable; chip->code != kNoChip && !found; ++chip) {
      if (chip->manufacturerCode == mfc[i] && chip->deviceCode == dvc[i]) found = chip;
    }
    if (!found) {
      message =
          format("MFC %X  DVC %X", static_cast<unsigned>(mfc[i]), static_cast<unsigned>(dvc[i]));
      return kCheckChipUnknown;
    }
    if (found->chipClass != bank.chipClass) {
      message = format("%s != %s", bank.chipName, found->name);
      return kCheckChipWrongClass;
    }
  }
  return kCheckOk;
}
