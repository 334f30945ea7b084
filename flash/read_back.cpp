#include "flash/read_back.h"

#include <cinttypes>
#include <cstdio>

#include "flash/processor_update.h"
#include "flash/result_codes.h"
#include "flash/target_commands.h"
#include "platform/host_files.h"
#include "platform/path_text.h"
#include "platform/sha256.h"
#include "platform/whole_file.h"
#include "run/run_state.h"

namespace {

// An image larger than any flash bank of the job is not one the check let through.
constexpr size_t kMaxImageBytes = 64 * 1024 * 1024;

}  // namespace

uint64_t compareReadBack(const std::string& expected, const std::string& actual, uint32_t address,
                         uint32_t unit, std::vector<uint32_t>& differences) {
  uint64_t differing = 0;
  for (size_t i = 0; i < expected.size(); ++i) {
    if (i < actual.size() && expected[i] == actual[i]) continue;
    ++differing;
    const uint32_t at = address + static_cast<uint32_t>(i / unit);
    // Several bytes of one word-addressed location count once in the list.
    if (differences.size() < kMaxReportedDifferences &&
        (differences.empty() || differences.back() != at)) {
      differences.push_back(at);
    }
  }
  return differing;
}

int32_t readBackImage(const ProgrammingJob& job, const ProgramFile& program, CComm& port,
                      std::vector<uint32_t>& differences, uint64_t& differingBytes) {
  std::string image;
  if (!platform::readRegularFile(platform::resolveHostFile(program.fileName), kMaxImageBytes,
                                 image)) {
    return kResultProgramFileNotOpened;
  }
  std::string flash;
  const int32_t result = uploadToMemory(program.address, static_cast<uint32_t>(image.size()),
                                        job.architecture, job.processor, flash, port);
  if (result != kResultOk) return result;
  differingBytes += compareReadBack(image, flash, program.address, addressUnit(job), differences);
  return kResultOk;
}

std::string backupFileName(uint32_t start) {
  char name[32];
  std::snprintf(name, sizeof name, "flash-%08" PRIX32 ".bin", start);
  return name;
}

int32_t backupEraseAreas(const ProgrammingJob& job, const std::string& folder,
                         std::vector<BackupArea>& areas, CComm& port) {
  areas.clear();
  addStatusLine("Back up processor flash");
  int32_t result = kResultOk;
  for (int i = 0; i < job.eraseCount && i < kMaxJobEntries && result == kResultOk; ++i) {
    const EraseArea& erase = job.eraseAreas[i];
    BackupArea area;
    area.start = erase.start;
    area.bytes = erase.length;
    area.file = backupFileName(erase.start);
    std::string bytes;
    result =
        uploadToMemory(erase.start, erase.length, job.architecture, job.processor, bytes, port);
    if (result != kResultOk) break;
    if (!platform::writeFileWhole(platform::joinPath(folder, area.file), bytes)) {
      result = kResultBackupWrite;
      break;
    }
    area.sha256 = platform::sha256Hex(bytes);
    areas.push_back(area);
  }
  if (result == kResultOk) {
    setStepStatus(1, 0);
    return kResultOk;
  }
  // A backup is whole or absent: what was written of it goes again.
  for (const BackupArea& written : areas)
    platform::removeFile(platform::joinPath(folder, written.file));
  areas.clear();
  setStepStatus(0, result);
  return result;
}

int32_t backupProcessorFlash(const char* configFileName, CComm& port,
                             const ProcessorUpdateExtras& extras) {
  int32_t result = prepareUpdateTarget(configFileName, port, kProcessorLinkTimeoutMs);
  if (result != kResultOk) return result;
  if (extras.beforeErase) {
    result = extras.beforeErase(port);
    if (result != kResultOk) return result;
  }
  // The flash is as it was: the transfer program ends and the instrument boots it again.
  result = endTransferProgram(port);
  if (result != kResultOk) {
    addStatusLine("ERROR - transfer programm end: backup kept, instrument not booted");
    return result;
  }
  result = bootTarget(port);
  if (result != kResultOk) {
    char line[96];
    std::snprintf(line, sizeof line, "ERROR - %s could not be booted", deviceName);
    addStatusLine(line);
  }
  return result;
}
