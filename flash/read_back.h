// Reading the processor flash back through the transfer program's upload command: the
// verification of each programmed image byte for byte, and the backup of the areas a job
// erases. The DSP module has no read command: both cover the processor flash only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "flash/config/programming_job.h"
#include "flash/processor_update.h"
#include "serial/comm.h"

// The differing addresses that a read back reports (the first ones; the count is kept).
inline constexpr size_t kMaxReportedDifferences = 16;

// Compares what was read from a target address on with what should be there; appends the
// target addresses of differing bytes to `differences` up to kMaxReportedDifferences in all,
// and returns how many bytes differ (a read shorter than expected differs in the missing
// bytes). unit: bytes per target address.
uint64_t compareReadBack(const std::string& expected, const std::string& actual, uint32_t address,
                         uint32_t unit, std::vector<uint32_t>& differences);

// Reads the image's range back and compares it with the image file. 0 (differences tell
// whether it matched) or the upload's code, or kResultProgramFileNotOpened.
int32_t readBackImage(const ProgrammingJob& job, const ProgramFile& program, CComm& port,
                      std::vector<uint32_t>& differences, uint64_t& differingBytes);

// One erase area saved by a backup.
struct BackupArea {
  uint32_t start = 0;
  uint32_t bytes = 0;
  std::string file;    // "flash-00050000.bin", inside the folder
  std::string sha256;  // of the bytes read
};

// "flash-XXXXXXXX.bin" of an area's start address.
std::string backupFileName(uint32_t start);

// Reads every erase area of the job into folder/flash-XXXXXXXX.bin, under the status line
// "Back up processor flash" (marked OK or ERROR). All or nothing: when a read or a write
// fails (a cancel included) the files written so far are removed and the code returned
// (kResultBackupWrite when a file cannot be written).
int32_t backupEraseAreas(const ProgrammingJob& job, const std::string& folder,
                         std::vector<BackupArea>& areas, CComm& port);

// The backup-only run on an instrument in update mode: prepares the target as an update does
// (job, loader, transfer program), calls extras.beforeErase, ends the transfer program and
// boots the instrument with its flash unchanged. 0 or the first failing code.
int32_t backupProcessorFlash(const char* configFileName, CComm& port,
                             const ProcessorUpdateExtras& extras);
