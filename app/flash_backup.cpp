#include "app/flash_backup.h"

#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "app/hex_text.h"
#include "app/json_text.h"
#include "flash/config/programming_job.h"
#include "flash/result_codes.h"
#include "instrument/zel.h"
#include "platform/host_files.h"
#include "platform/path_text.h"
#include "platform/sha256.h"
#include "platform/time_text.h"
#include "platform/whole_file.h"
#include "run/run_state.h"

namespace {

constexpr size_t kMaxManifestBytes = 1024 * 1024;
constexpr size_t kMaxAreaBytes = 64 * 1024 * 1024;

bool hexValue(const Json* value, uint32_t& out) {
  if (value == nullptr || !value->is_string()) return false;
  const std::string text = jsonTextOf(value);
  unsigned long parsed = 0;
  int used = 0;
  if (std::sscanf(text.c_str(), "0x%lx%n", &parsed, &used) != 1 ||
      static_cast<size_t>(used) != text.size() || parsed > UINT32_MAX) {
    return false;
  }
  out = static_cast<uint32_t>(parsed);
  return true;
}

std::string upperTrimmed(const std::string& line) {
  std::string text;
  for (char c : line) {
    if (c != ' ' && c != '\t')
      text += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return text;
}

}  // namespace

std::string backupFolderProblem(const std::string& folder) {
  std::error_code error;
  const std::filesystem::path path = platform::pathFromUtf8(folder);
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (!std::filesystem::exists(status)) return std::string();
  if (!std::filesystem::is_directory(status)) return folder + " exists and is not a folder";
  if (!std::filesystem::is_empty(path, error) || error) {
    return folder + " is not empty (a backup goes into a new or empty folder)";
  }
  return std::string();
}

std::string backupDestinationProblem(const std::string& folder, uint64_t bytes) {
  if (std::string problem = backupFolderProblem(folder); !problem.empty()) return problem;
  namespace fs = std::filesystem;
  std::error_code error;
  // The folder itself, or the nearest one above it that exists: where it would be created.
  fs::path existing = fs::absolute(platform::pathFromUtf8(folder), error);
  while (!existing.empty() && !fs::exists(existing, error) && existing != existing.parent_path()) {
    existing = existing.parent_path();
  }
  const std::string where = platform::utf8FromPath(existing);
  if (!fs::is_directory(existing, error)) {
    return folder + " cannot be created: " + where + " is not a folder";
  }
  if (!platform::userMayWrite(where)) {
    return folder + " cannot be written: no permission to write in " + where +
           " (or the file system is read-only)";
  }
  // The areas and their manifest (a few kilobytes).
  constexpr uint64_t kManifestReserve = 64 * 1024;
  const fs::space_info space = fs::space(existing, error);
  if (!error && space.available < bytes + kManifestReserve) {
    return "no room for the backup in " + where + ": it needs " +
           std::to_string((bytes + kManifestReserve + 1023) / 1024) + " KiB, " +
           std::to_string(space.available / 1024) + " KiB are free";
  }
  return std::string();
}

std::string manifestJson(const BackupManifest& manifest) {
  Json root = Json::object();
  root["backup"] = kBackupFormat;
  root["created"] = jsonString(manifest.created);
  if (manifest.identityKnown) {
    root["instrument"] = instrumentJson(manifest.instrument);
    root["hw"] = hexText(manifest.hw);
  } else {
    root["instrument"] = nullptr;
    root["hw"] = nullptr;
  }
  root["version"] = jsonString(manifest.version);
  Json& areas = root["areas"] = Json::array();
  for (const BackupArea& area : manifest.areas) {
    areas.push_back({{"start", hexText(area.start)},
                     {"bytes", area.bytes},
                     {"file", jsonString(area.file)},
                     {"sha256", jsonString(area.sha256)}});
  }
  root["job"] = jsonString(manifest.job);
  return jsonLine(root) + "\n";
}

std::string readBackup(const std::string& folder, BackupManifest& manifest) {
  const std::string manifestPath = platform::joinPath(folder, kBackupManifestName);
  std::string text;
  std::string why;
  if (!platform::readRegularFile(manifestPath, kMaxManifestBytes, text, &why)) {
    return "no backup in " + folder + " (" + kBackupManifestName + ": " + why + ")";
  }
  const Json parsed = parseJson(text);
  const Json* root = &parsed;
  const Json* format = jsonMember(root, "backup");
  if (format == nullptr || !format->is_number() || format->get<double>() != kBackupFormat) {
    return manifestPath + " is not a backup manifest";
  }
  manifest = BackupManifest{};
  const Json* created = jsonMember(root, "created");
  const Json* version = jsonMember(root, "version");
  const Json* job = jsonMember(root, "job");
  const Json* areas = jsonMember(root, "areas");
  const Json* instrument = jsonMember(root, "instrument");
  const Json* hw = jsonMember(root, "hw");
  manifest.identityKnown =
      !(instrument != nullptr && instrument->is_null() && hw != nullptr && hw->is_null());
  if ((manifest.identityKnown &&
       (!instrumentOfJson(instrument, manifest.instrument) || !hexValue(hw, manifest.hw))) ||
      version == nullptr || !version->is_string() || job == nullptr || !job->is_string() ||
      areas == nullptr || !areas->is_array() || areas->empty() ||
      areas->size() > static_cast<size_t>(kMaxJobEntries)) {
    return manifestPath + " lacks a key or has one of the wrong kind";
  }
  manifest.created = jsonTextOf(created);
  manifest.version = jsonTextOf(version);
  manifest.job = jsonTextOf(job);
  for (const Json& item : *areas) {
    BackupArea area;
    const Json* bytes = jsonMember(&item, "bytes");
    const Json* file = jsonMember(&item, "file");
    const Json* sha = jsonMember(&item, "sha256");
    if (!hexValue(jsonMember(&item, "start"), area.start) || bytes == nullptr ||
        !bytes->is_number() || bytes->get<double>() < 1 || bytes->get<double>() > kMaxAreaBytes ||
        file == nullptr || !file->is_string() || sha == nullptr || !sha->is_string()) {
      return manifestPath + ": an area lacks start, bytes, file or sha256";
    }
    area.bytes = static_cast<uint32_t>(bytes->get<double>());
    area.file = jsonTextOf(file);
    area.sha256 = jsonTextOf(sha);
    // Only the folder's own area files are read: a name pointing elsewhere is refused.
    if (area.file != backupFileName(area.start)) {
      return manifestPath + ": area file \"" + area.file + "\" is not " +
             backupFileName(area.start);
    }
    std::string contents;
    if (!platform::readRegularFile(platform::joinPath(folder, area.file), kMaxAreaBytes, contents,
                                   &why)) {
      return area.file + " cannot be read: " + why;
    }
    if (contents.size() != area.bytes || platform::sha256Hex(contents) != area.sha256) {
      return area.file + " does not match its SHA-256 in the manifest: the backup is damaged";
    }
    manifest.areas.push_back(area);
  }
  return std::string();
}

int32_t writeBackup(const std::string& folder, const ServiceRecordInstrument& instrument,
                    CComm& port) {
  BackupManifest manifest;
  int32_t result = backupEraseAreas(programmingJob, folder, manifest.areas, port);
  if (result != kResultOk) return result;

  manifest.created = platform::formatIsoUtc(std::time(nullptr));
  manifest.identityKnown = instrument.hw.has_value();
  manifest.instrument = instrument;
  manifest.hw = instrument.hw.value_or(0);
  manifest.version = instrument.version;
  std::string why;
  const bool jobRead = platform::readRegularFile(platform::resolveHostFile(kProgrammingConfigFile),
                                                 kMaxManifestBytes, manifest.job, &why);
  if (jobRead && platform::writeFileWhole(platform::joinPath(folder, kBackupManifestName),
                                          manifestJson(manifest), &why)) {
    return kResultOk;
  }
  for (const BackupArea& area : manifest.areas)
    platform::removeFile(platform::joinPath(folder, area.file));
  addStatusLine("ERROR - backup manifest: " + why);
  return kResultBackupWrite;
}

std::string restoreJobText(const BackupManifest& manifest, std::vector<std::string>& fileNames) {
  // The backup's own host and target sections without their erase areas; then the areas of
  // the backup, each erased and programmed with what was read from it.
  std::string text;
  size_t lineStart = 0;
  const std::string& job = manifest.job;
  while (lineStart < job.size()) {
    size_t lineEnd = job.find('\n', lineStart);
    if (lineEnd == std::string::npos) lineEnd = job.size();
    const std::string line = job.substr(lineStart, lineEnd - lineStart);
    lineStart = lineEnd + 1;
    const std::string key = upperTrimmed(line);
    if (key.starts_with("[FILES]")) break;
    if (key.starts_with("ERASE")) continue;
    text += line + "\n";
  }
  fileNames.clear();
  for (const BackupArea& area : manifest.areas) {
    text += "ERASE  = " + hexText(area.start) + "," + hexText(area.bytes) + "\n";
  }
  text += "[FILES]\n";
  for (const BackupArea& area : manifest.areas) {
    char name[32];
    std::snprintf(name, sizeof name, "%s%08" PRIX32 ".BIN", kRestoreFilePrefix, area.start);
    fileNames.push_back(name);
    text += "PROGRAM = " + hexText(area.start) + ", " + name + "\n";
  }
  text += "; end of file\n";
  return text;
}

bool stageRestoreFiles(const std::string& folder, const BackupManifest& manifest,
                       const std::vector<std::string>& fileNames, std::string* why) {
  for (size_t i = 0; i < manifest.areas.size() && i < fileNames.size(); ++i) {
    std::string contents;
    std::string reason;
    const BackupArea& area = manifest.areas[i];
    // Checked once more as it is copied: what goes to the flash is what the manifest names.
    bool copied = false;
    if (!platform::readRegularFile(platform::joinPath(folder, area.file), kMaxAreaBytes, contents,
                                   &reason)) {
      reason = area.file + " cannot be read: " + reason;
    } else if (platform::sha256Hex(contents) != area.sha256) {
      reason = area.file + " changed since it was checked";
    } else if (!platform::writeFileWhole(fileNames[i], contents, &reason)) {
      reason = "cannot write " + fileNames[i] + ": " + reason;
    } else {
      copied = true;
    }
    if (!copied) {
      if (why != nullptr) *why = reason;
      removeRestoreFiles(fileNames);
      return false;
    }
  }
  return true;
}

void removeRestoreFiles(const std::vector<std::string>& fileNames) {
  for (const std::string& name : fileNames) platform::removeFile(name);
}
