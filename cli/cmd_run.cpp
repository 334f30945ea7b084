// zelupdate run: one Run of the main dialog in the console, automatic or, with --manual,
// with the configuration dialog's selections given on the command line and accepted by the
// same rules as the dialog's OK.

#include <cstdio>
#include <optional>
#include <string>

#include "app/config_dlg.h"
#include "app/flash_backup.h"
#include "cli/command_line.h"
#include "cli/console_run.h"
#include "platform/text_case.h"
#include "serial/com_ports.h"

namespace {

constexpr const char* kRunUsage =
    "usage: zelupdate run [--port PORT] [--manual [--memory-extension yes|no]\n"
    "                     [--option none|B1|B10|B20] [--processor-firmware yes|no]\n"
    "                     [--option-update [yes|no]]] [--assume-yes] [--transcript FILE]\n"
    "                     [--dry-run] [--verify] [--backup DIR]\n"
    "  --verify: read every image of the processor flash back after its checksum and compare\n"
    "    it byte for byte (the DSP module of an option has no read command: its update is\n"
    "    judged by its checksum alone)\n"
    "  --backup DIR: before the first erase, read every flash area the update erases into\n"
    "    the new or empty folder DIR (see zelupdate restore)\n"
    "  PORT: a COM number (5 or COM5), a device path, rfc2217://HOST:PORT or sim:KEY=VALUE,...\n";

int usageError(const std::string& detail) {
  std::fprintf(stderr, "zelupdate run: %s\n%s", detail.c_str(), kRunUsage);
  return kExitUsage;
}

std::optional<int> parseYesNo(const std::string& text) {
  if (platform::equalNoCase(text, "yes")) return 1;
  if (platform::equalNoCase(text, "no")) return 0;
  return std::nullopt;
}

std::optional<int> parseOptionKind(const std::string& text) {
  if (platform::equalNoCase(text, "none")) return kOptionNone;
  return optionKindOfName(text);
}

}  // namespace

std::string runPortText(const std::string& text, const std::string& settingsFile) {
  platform::loadComPortMapping(settingsFile);
  return platform::commandLinePort(text);
}

int commandRun(const std::vector<std::string>& args, const CommonOptions& common) {
  ConsoleRunRequest request;
  int optionKind = kOptionNone;
  std::optional<int> memoryExtension, processorFirmware, optionUpdate;
  bool selectionGiven = false;

  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool hasValue = i + 1 < args.size();
    if (arg == "--port") {
      if (!hasValue || args[i + 1].empty()) return usageError("--port needs a port");
      const std::string& given = args[++i];
      request.port = runPortText(given, settingsFileFor(common));
      if (request.port.empty()) {
        return usageError("not a port: " + platform::printablePortName(given) + " (" +
                          platform::comNumberRule() + ")");
      }
    } else if (arg == "--manual") {
      request.manual = true;
    } else if (arg == "--dry-run") {
      request.dryRun = true;
    } else if (arg == "--verify") {
      request.verify = true;
    } else if (arg == "--backup") {
      if (!hasValue || args[i + 1].empty()) return usageError("--backup needs a folder");
      request.backupFolder = args[++i];
      if (const std::string problem = backupFolderProblem(request.backupFolder); !problem.empty()) {
        return usageError("--backup: " + platform::printablePortName(problem));
      }
    } else if (arg == "--assume-yes") {
      request.assumeYes = true;
    } else if (arg == "--progress-lines") {
      // Not in the usage: for `zelupdate fleet`, which reads its children's output.
      request.progressLines = true;
    } else if (arg == "--fleet-record") {
      // Not in the usage either: the child's record file in its fleet folder.
      if (!hasValue || args[i + 1].empty()) return usageError("--fleet-record needs a file name");
      request.fleetRecordFile = args[++i];
    } else if (arg == "--transcript") {
      if (!hasValue || args[i + 1].empty()) return usageError("--transcript needs a file name");
      request.transcriptFile = args[++i];
    } else if (arg == "--option-update") {
      selectionGiven = true;
      optionUpdate = 1;  // a bare --option-update means yes
      if (hasValue && parseYesNo(args[i + 1])) optionUpdate = *parseYesNo(args[++i]);
    } else if (arg == "--memory-extension" || arg == "--processor-firmware") {
      selectionGiven = true;
      if (!hasValue || !parseYesNo(args[i + 1])) return usageError(arg + " needs yes or no");
      (arg == "--memory-extension" ? memoryExtension : processorFirmware) = *parseYesNo(args[++i]);
    } else if (arg == "--option") {
      selectionGiven = true;
      const std::optional<int> kind = hasValue ? parseOptionKind(args[i + 1]) : std::nullopt;
      if (!kind) return usageError("--option needs none, B1, B10 or B20");
      optionKind = *kind;
      ++i;
    } else {
      return usageError("unknown argument: " + platform::printablePortName(arg));
    }
  }
  if (selectionGiven && !request.manual) return usageError("selections need --manual");
  if (request.dryRun && request.manual) {
    return usageError("--dry-run plans the automatic update; it does not take --manual");
  }

  if (request.manual) {
    // As the configuration dialog takes them: the option button first (which ticks or
    // clears the option update), then the check boxes.
    UpdateSettings& settings = request.settings;
    chooseOption(settings, optionKind);
    if (memoryExtension) settings.memoryExtension = *memoryExtension;
    if (processorFirmware) settings.processorFirmware = *processorFirmware;
    if (optionUpdate) settings.optionUpdate = *optionUpdate;
    const std::string refusal = validateUpdateSettings(settings);
    if (!refusal.empty()) {
      std::fprintf(stderr, "%s\n", refusal.c_str());
      recordRefusedRun(request, common);
      return kExitUsage;
    }
  }
  return runInConsole(request, common);
}
