// zelupdate backup and zelupdate restore: the flash areas an update would erase, saved into
// a folder with the instrument untouched otherwise; and such a folder programmed back.
#include <cstdio>
#include <string>
#include <vector>

#include "app/flash_backup.h"
#include "cli/command_line.h"
#include "cli/console_run.h"
#include "serial/com_ports.h"

namespace {

constexpr const char* kBackupUsage =
    "usage: zelupdate backup [--port PORT] [--assume-yes] [--transcript FILE] DIR\n"
    "  reads the processor flash areas an automatic update would erase into the new or empty\n"
    "  folder DIR (one file per area and manifest.json, written last) and boots the instrument\n"
    "  unchanged; the update's loader and transfer program are read from the current folder.\n"
    "  The DSP module of an option cannot be read and is not saved.\n";
constexpr const char* kRestoreUsage =
    "usage: zelupdate restore [--port PORT] [--force] [--assume-yes] [--transcript FILE] DIR\n"
    "  checks the backup in DIR (every file against its SHA-256), identifies the instrument and\n"
    "  refuses another one (serial number or hardware word differ) unless --force; then erases\n"
    "  the saved areas, programs them back, reads them back to verify, and reboots.\n";

// The options both commands share; false after a usage message.
bool parseBackupArgs(const char* command, const char* usage, const std::vector<std::string>& args,
                     const CommonOptions& common, ConsoleRunRequest& request, std::string& folder,
                     bool* force) {
  const auto fail = [&](const std::string& detail) {
    std::fprintf(stderr, "zelupdate %s: %s\n%s", command,
                 platform::printablePortName(detail).c_str(), usage);
    return false;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool hasValue = i + 1 < args.size() && !args[i + 1].empty();
    if (arg == "--port") {
      if (!hasValue) return fail("--port needs a port");
      request.port = runPortText(args[++i], settingsFileFor(common));
      if (request.port.empty()) return fail("not a port: " + args[i]);
    } else if (arg == "--assume-yes") {
      request.assumeYes = true;
    } else if (arg == "--transcript") {
      if (!hasValue) return fail("--transcript needs a file name");
      request.transcriptFile = args[++i];
    } else if (arg == "--force" && force != nullptr) {
      *force = true;
    } else if (arg.starts_with("-") || !folder.empty() || arg.empty()) {
      return fail("unknown argument: " + arg);
    } else {
      folder = arg;
    }
  }
  if (folder.empty()) return fail("no backup folder given");
  return true;
}

}  // namespace

int commandBackup(const std::vector<std::string>& args, const CommonOptions& common) {
  ConsoleRunRequest request;
  if (!parseBackupArgs("backup", kBackupUsage, args, common, request, request.backupFolder,
                       nullptr)) {
    return kExitUsage;
  }
  if (const std::string problem = backupFolderProblem(request.backupFolder); !problem.empty()) {
    std::fprintf(stderr, "zelupdate backup: %s\n", platform::printablePortName(problem).c_str());
    return kExitUsage;
  }
  request.backupOnly = true;
  return runInConsole(request, common);
}

int commandRestore(const std::vector<std::string>& args, const CommonOptions& common) {
  ConsoleRunRequest request;
  if (!parseBackupArgs("restore", kRestoreUsage, args, common, request, request.restoreFolder,
                       &request.restoreForce)) {
    return kExitUsage;
  }
  request.verify = true;
  return runInConsole(request, common);
}
