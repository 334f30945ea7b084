// zelupdate run: one Run of the main dialog in the console, automatic or, with --manual,
// with the configuration dialog's selections given on the command line and accepted by the
// same rules as the dialog's OK.

#include <cstdio>
#include <string>

#include "app/config_dlg.h"
#include "app/flash_backup.h"
#include "cli/command.h"
#include "cli/command_options.h"
#include "cli/console_run.h"
#include "serial/com_ports.h"

namespace {

class RunCommand final : public Command {
 public:
  void define(CLI::App& app) override {
    cli::addPortOption(app, m_port);
    app.add_flag("--manual", m_request.manual, "manual mode, with the selections below");
    cli::addSelectionOptions(app, m_selections);
    cli::addAssumeYesOption(app, m_request.assumeYes);
    cli::addTranscriptOption(app, m_request.transcriptFile);
    app.add_flag("--dry-run", m_request.dryRun, "identify and plan only, never update mode");
    app.add_flag("--verify", m_request.verify, "read every processor image back and compare");
    app.add_option("--backup", m_request.backupFolder,
                   "first save the areas it erases into new DIR")
        ->type_name("DIR")
        ->check(cli::nameValue("a folder"));
    // For `zelupdate fleet`, which starts a run per port and reads its output.
    app.add_flag("--progress-lines", m_request.progressLines,
                 "fleet child only: plain progress lines")
        ->group("Options of the fleet's child runs");
    app.add_option("--fleet-record", m_request.fleetRecordFile,
                   "fleet child only: the record also into FILE")
        ->type_name("FILE")
        ->check(cli::nameValue("a file name"))
        ->group("Options of the fleet's child runs");
    app.footer(
        "The selections go with --manual; their defaults in parentheses.\n"
        "PORT: a COM number (5 or COM5), a device path, rfc2217://HOST:PORT or\n"
        "  sim:KEY=VALUE,... (the simulated instrument, see zelupdate(1)).\n"
        "An option's DSP module has no read command: --verify judges it by its checksum.\n"
        "Exit status: 0 the run ended with its success message (a dry run: an update\n"
        "would be attempted), 1 it did not, 2 usage error or refused selections.");
  }

  std::string check(const CommonOptions& common) override {
    if (!m_port.empty()) {
      if (std::string why = cli::takePort(m_port, settingsFileFor(common), m_request.port);
          !why.empty()) {
        return "--port: " + why;
      }
    }
    if (std::string why = cli::historyFileProblem(common); !why.empty()) return why;
    if (!m_request.fleetRecordFile.empty()) {
      if (std::string why = cli::outputFileProblem(m_request.fleetRecordFile); !why.empty()) {
        return "--fleet-record: " + why;
      }
    }
    if (m_selections.given() && !m_request.manual) return "selections need --manual";
    if (m_request.dryRun && m_request.manual) {
      return "--dry-run plans the automatic update; it does not take --manual";
    }
    if (!m_request.backupFolder.empty()) {
      if (const std::string problem = backupFolderProblem(m_request.backupFolder);
          !problem.empty()) {
        return "--backup: " + serial::printablePortName(problem);
      }
    }
    return std::string();
  }

  int run(const CommonOptions& common) override {
    if (m_request.manual) {
      // As the configuration dialog takes them: the option button first (which ticks or
      // clears the option update), then the check boxes.
      UpdateSettings& settings = m_request.settings;
      chooseOption(settings, cli::optionKindOf(m_selections));
      if (m_selections.memoryExtension) settings.memoryExtension = *m_selections.memoryExtension;
      if (m_selections.processorFirmware) {
        settings.processorFirmware = *m_selections.processorFirmware;
      }
      if (m_selections.optionUpdate) settings.optionUpdate = *m_selections.optionUpdate;
      const std::string refusal = validateUpdateSettings(settings);
      if (!refusal.empty()) {
        std::fprintf(stderr, "%s\n", refusal.c_str());
        recordRefusedRun(m_request, common);
        return kExitUsage;
      }
    }
    return runInConsole(m_request, common);
  }

 private:
  ConsoleRunRequest m_request;
  std::string m_port;
  cli::Selections m_selections;
};

}  // namespace

std::unique_ptr<Command> makeRunCommand() {
  return std::make_unique<RunCommand>();
}
