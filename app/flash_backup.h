// Backup folders of the processor flash: one file per erase area of the job
// ("flash-XXXXXXXX.bin") and "manifest.json", written last, so that a folder without it is
// no backup; read back and checked before a restore, and turned into the restore's job.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/service_record.h"
#include "flash/read_back.h"
#include "serial/comm.h"

inline constexpr int kBackupFormat = 1;
inline constexpr const char* kBackupManifestName = "manifest.json";
// The restore programs copies of the checked area files from the current folder, beside
// the loader and the transfer program, under these names ("RESTORE-00050000.BIN").
inline constexpr const char* kRestoreFilePrefix = "RESTORE-";

struct BackupManifest {
  std::string created;  // UTC, ISO 8601
  // A backup made in manual mode knows no instrument: its manifest says so (null), and a
  // restore asks before it goes on instead of comparing.
  bool identityKnown = true;
  ServiceRecordInstrument instrument;
  uint32_t hw = 0;
  std::string version;
  std::vector<BackupArea> areas;
  std::string job;  // the ROMWRITE.CNF text the backup was read with
};

// Why a folder cannot take a new backup (it exists and is not an empty folder); empty when
// it can.
std::string backupFolderProblem(const std::string& folder);
// backupFolderProblem, and whether the folder can be created where it is missing, can be
// written, and has room for `bytes` of areas and the manifest. Leaves nothing behind. Empty
// when the backup can be written there.
std::string backupDestinationProblem(const std::string& folder, uint64_t bytes);

std::string manifestJson(const BackupManifest& manifest);

// Reads the folder's manifest and checks every area file against its size and SHA-256.
// Empty when the backup is whole, else what is wrong.
std::string readBackup(const std::string& folder, BackupManifest& manifest);

// Reads every erase area of programmingJob into the folder and writes the manifest last.
// Whole or absent: on any failure (a cancel included) nothing of it stays. 0 or the code.
int32_t writeBackup(const std::string& folder, const ServiceRecordInstrument& instrument,
                    CComm& port);

// The restore's job: the backup's job with its erase areas, programming each area's file
// back; the names of the files to stage in the current folder come with it (in area order).
std::string restoreJobText(const BackupManifest& manifest, std::vector<std::string>& fileNames);

// Copies the checked area files into the current folder under the staged names; false (with
// the copies removed and `why` naming the file and the reason) when one cannot be written.
bool stageRestoreFiles(const std::string& folder, const BackupManifest& manifest,
                       const std::vector<std::string>& fileNames, std::string* why = nullptr);
void removeRestoreFiles(const std::vector<std::string>& fileNames);
