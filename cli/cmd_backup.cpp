// zelupdate backup and zelupdate restore: the flash areas an update would erase, saved into
// a folder with the instrument untouched otherwise; and such a folder programmed back.
#include <cstdio>
#include <string>
#include <vector>

#include "app/flash_backup.h"
#include "cli/command.h"
#include "cli/command_options.h"
#include "cli/console_run.h"
#include "serial/com_ports.h"

namespace {

// What both commands share: the port, the answers, the transcript and the folder.
class BackupFolderCommand : public Command {
 public:
  void define(CLI::App& app) override {
    cli::addPortOption(app, m_port);
    cli::addAssumeYesOption(app, m_request.assumeYes);
    cli::addTranscriptOption(app, m_request.transcriptFile);
    app.add_option("DIR", m_folder, "the backup folder")
        ->type_name("")
        ->required()
        ->check(cli::nameValue("a folder"));
  }

  std::string check(const CommonOptions& common) override {
    if (!m_port.empty()) {
      if (std::string why = cli::takePort(m_port, settingsFileFor(common), m_request.port);
          !why.empty()) {
        return "--port: " + why;
      }
    }
    if (m_folder.empty()) return "no backup folder given";
    if (std::string why = cli::historyFileProblem(common); !why.empty()) return why;
    return std::string();
  }

  int run(const CommonOptions& common) override { return runInConsole(m_request, common); }

 protected:
  ConsoleRunRequest m_request;
  std::string m_port;
  std::string m_folder;
};

class BackupCommand final : public BackupFolderCommand {
 public:
  void define(CLI::App& app) override {
    BackupFolderCommand::define(app);
    app.footer(
        "Reads the processor flash areas an automatic update would erase into the new or\n"
        "empty folder DIR (a file per area, manifest.json written last) and boots the\n"
        "instrument unchanged; the loader and transfer program come from the current\n"
        "folder. An option's DSP module cannot be read and is not saved.");
  }

  std::string check(const CommonOptions& common) override {
    if (std::string why = BackupFolderCommand::check(common); !why.empty()) return why;
    // Room is known once the instrument's job is; whether the folder can be made is not.
    if (const std::string problem = backupDestinationProblem(m_folder, 0); !problem.empty()) {
      return serial::printablePortName(problem);
    }
    m_request.backupFolder = m_folder;
    m_request.backupOnly = true;
    return std::string();
  }
};

class RestoreCommand final : public BackupFolderCommand {
 public:
  void define(CLI::App& app) override {
    BackupFolderCommand::define(app);
    app.add_flag("--force", m_request.restoreForce, "onto another instrument too (serial, hw)");
    app.footer(
        "Checks the backup in DIR (every file against its SHA-256), identifies the\n"
        "instrument and refuses another one unless --force; then erases the saved areas,\n"
        "programs them back, reads them back to verify, and reboots.");
  }

  std::string check(const CommonOptions& common) override {
    if (std::string why = BackupFolderCommand::check(common); !why.empty()) return why;
    m_request.restoreFolder = m_folder;
    m_request.verify = true;
    return std::string();
  }
};

}  // namespace

std::unique_ptr<Command> makeBackupCommand() {
  return std::make_unique<BackupCommand>();
}

std::unique_ptr<Command> makeRestoreCommand() {
  return std::make_unique<RestoreCommand>();
}
