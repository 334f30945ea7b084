#include "cli/command_line.h"

#include <cstdio>
#include <cstring>

#include "app/service_record.h"
#include "platform/debug_output.h"
#include "platform/profile.h"

namespace {

constexpr const char* kUsage =
    "usage:\n"
    "  zelupdate [/Service] [/OhneZwischenbooten]   the desktop window\n"
    "  zelupdate run [options]                       one Run in the console\n"
    "  zelupdate check [FILE]                        read and check a programming configuration\n"
    "                                                file (default romwrite.cnf)\n"
    "  zelupdate generate --hw WORD [--port N] [--option-update [yes|no]]\n"
    "  zelupdate generate --manual [--port N] [--memory-extension yes|no]\n"
    "                     [--option none|B1|B10|B20] [--processor-firmware yes|no]\n"
    "                     [--option-update [yes|no]]  write ROMWRITE.CNF\n"
    "  zelupdate ports                               the COM port list with each device\n"
    "  zelupdate ports --all                         every serial device, with stable names\n"
    "                                                and adapter identity\n"
    "  zelupdate demo [DIR] [--window] [--speed N|virtual]\n"
    "                                                sample files in DIR (a new temporary folder\n"
    "                                                by default), then an automatic update of a\n"
    "                                                simulated instrument there (N x real time,\n"
    "                                                default 20)\n"
    "  zelupdate demo --fleet N [DIR] [--speed N|virtual]\n"
    "                                                N simulated instruments of different\n"
    "                                                hardware at once (N up to 16, default 4)\n"
    "  zelupdate fleet [--jobs N] [--ports-file FILE] [--report FILE] PORT...\n"
    "                                                automatic updates of many instruments, a\n"
    "                                                child run per port\n"
    "  zelupdate history [--serial S] [--port P] [--since YYYY-MM-DD] [--json] [--history FILE]\n"
    "                                                the service records, oldest first\n"
    "  zelupdate explain [--decimal] CODE            the meaning of a result code (hex as status\n"
    "                                                lines show it)\n"
    "  zelupdate backup [--port P] DIR               read the flash areas an update would erase\n"
    "                                                into DIR, change nothing\n"
    "  zelupdate restore [--port P] [--force] DIR    program a backup back (verified)\n"
    "  zelupdate simulate [--rfc2217 [HOST:]PORT | --pty] [KEY=VALUE,...]\n"
    "                                                serve a simulated instrument to other\n"
    "                                                programs\n"
    "run options: --port PORT (COM number, device path, rfc2217://HOST:PORT or sim:...;\n"
    "  default: the settings file's port), --manual, --memory-extension yes|no,\n"
    "  --option none|B1|B10|B20, --processor-firmware yes|no, --option-update [yes|no],\n"
    "  --assume-yes, --transcript FILE, --dry-run (identify and plan; the instrument is never\n"
    "  switched into update mode), --verify (read every image back after its checksum and\n"
    "  compare it byte for byte; the DSP module has no read command, so an option's image is\n"
    "  judged by its checksum alone), --backup DIR (save the flash areas the update erases\n"
    "  into the new or empty folder DIR first)\n"
    "run exit status: 0 the run ended with its success message (a dry run: an update would be\n"
    "  attempted), 1 it did not, 2 usage error\n"
    "  or refused selections\n"
    "common options: --trace FILE, --settings FILE, --history FILE, --no-history, --help,\n"
    "  --version\n";

int runCommand(const std::string& command, const std::vector<std::string>& args,
               const CommonOptions& common) {
  if (command.empty()) return commandWindow(args, common);
  if (command == "run") return commandRun(args, common);
  if (command == "check") return commandCheck(args, common);
  if (command == "generate") return commandGenerate(args, common);
  if (command == "ports") return commandPorts(args, common);
  if (command == "demo") return commandDemo(args, common);
  if (command == "history") return commandHistory(args, common);
  if (command == "explain") return commandExplain(args, common);
  if (command == "fleet") return commandFleet(args, common);
  if (command == "backup") return commandBackup(args, common);
  if (command == "restore") return commandRestore(args, common);
  if (command == "simulate") return commandSimulate(args, common);
  std::fprintf(stderr, "zelupdate: unknown command '%s'\n%s", command.c_str(), kUsage);
  return kExitUsage;
}

}  // namespace

std::string settingsFileFor(const CommonOptions& common) {
  if (!common.settingsFile.empty()) return common.settingsFile;
  return platform::settingsFilePath(common.programPath);
}

std::string historyFileFor(const CommonOptions& common) {
  if (common.noHistory) return std::string();
  if (!common.historyFile.empty()) return common.historyFile;
  return defaultHistoryPath();
}

int runCommandLine(int argc, char** argv) {
  CommonOptions common;
  common.programPath = argc > 0 ? argv[0] : "zelupdate";
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return kExitOk;
    }
    if (arg == "--version") {
      std::printf("zelupdate %s\n", ZEL_VERSION);
      return kExitOk;
    }
    if (arg == "--trace" || arg == "--settings" || arg == "--history") {
      if (i + 1 >= argc || argv[i + 1][0] == '\0') {
        std::fprintf(stderr, "zelupdate: %s needs a file name\n", arg.c_str());
        return kExitUsage;
      }
      std::string& file = arg == "--trace"      ? common.traceFile
                          : arg == "--settings" ? common.settingsFile
                                                : common.historyFile;
      file = argv[++i];
      continue;
    }
    if (arg == "--no-history") {
      common.noHistory = true;
      continue;
    }
    args.push_back(arg);
  }

  std::string why;
  if (!common.traceFile.empty() && !platform::setDebugOutputFile(common.traceFile, &why)) {
    std::fprintf(stderr, "zelupdate: cannot create trace file %s: %s\n", common.traceFile.c_str(),
                 why.c_str());
    return kExitUsage;
  }
  if (!common.settingsFile.empty()) platform::setSettingsFileOverride(common.settingsFile);

  std::string command;
  if (!args.empty() && args.front().rfind('/', 0) != 0 && args.front().rfind('-', 0) != 0) {
    command = args.front();
    args.erase(args.begin());
  }
  const int status = runCommand(command, args, common);
  // A trace that could not be written is said once, at the end; the status stays the run's.
  platform::setDebugOutputFile("");
  if (const std::string error = platform::debugOutputWriteError(); !error.empty()) {
    std::fprintf(stderr, "zelupdate: cannot write trace file %s: %s\n", common.traceFile.c_str(),
                 error.c_str());
  }
  return status;
}
