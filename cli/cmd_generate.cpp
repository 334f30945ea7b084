// zelupdate generate: writes ROMWRITE.CNF in the current directory as the automatic
// workflow does for a hardware word (--hw), or as the manual workflow does for the
// configuration dialog's selections (--manual).
#include <cstdio>
#include <optional>
#include <string>

#include "app/config_dlg.h"
#include "cli/command.h"
#include "cli/command_options.h"
#include "flash/config/config_writer.h"
#include "platform/profile.h"

namespace {

class GenerateCommand final : public Command {
 public:
  void define(CLI::App& app) override {
    app.add_option("--hw", m_hwText, "the automatic update's file for this hardware")
        ->type_name("WORD")
        ->check(cli::wordValue("a hardware word"));
    app.add_flag("--manual", m_manual, "the manual update's file for the selections");
    app.add_option("--port", m_portText, "the COM number of its line (default: settings)")
        ->type_name("N")
        ->check(cli::comNumberValue());
    cli::addSelectionOptions(app, m_selections);
    app.footer(
        "The selections go with --manual (--option-update with --hw too: the option's DSP\n"
        "image in the file); their defaults in parentheses. The image tests look in the\n"
        "current folder. Exit status: 0 written, 1 not, 2 usage error or refused\n"
        "selections.");
  }

  std::string check(const CommonOptions&) override {
    if (m_manual == !m_hwText.empty()) return "give either --hw WORD or --manual";
    const cli::Selections& s = m_selections;
    if (!m_manual && (s.memoryExtension || s.processorFirmware || !s.option.empty())) {
      return "selections need --manual";
    }
    return std::string();
  }

  int run(const CommonOptions& common) override {
    int portNumber;
    if (!m_portText.empty()) {
      portNumber = cli::parseComNumber(m_portText).value_or(1);
    } else {
      portNumber = platform::getPrivateProfileInt("DEVICE", "PORT_NO", 1, settingsFileFor(common));
      if (portNumber < 1) portNumber = 1;
    }

    int result;
    ManualSelections selections;  // the dialog's start values: memory extension, no option
    const uint32_t hwInfo = m_manual ? 0 : cli::parseWord(m_hwText).value_or(0);
    if (m_manual) {
      // The configuration dialog's rules: the option button, then its update box as the
      // user leaves it, then OK's checks. The processor firmware selection decides what a
      // manual run updates, not the file.
      UpdateSettings settings;
      settings.memoryExtension = m_selections.memoryExtension.value_or(selections.memoryExtension);
      chooseOption(settings, cli::optionKindOf(m_selections));
      if (m_selections.optionUpdate) settings.optionUpdate = *m_selections.optionUpdate;
      const std::string refusal = validateUpdateSettings(settings);
      if (!refusal.empty()) {
        std::fprintf(stderr, "%s\n", refusal.c_str());
        return kExitUsage;
      }
      selections = manualSelectionsOf(settings);
      result = writeManualConfiguration(portNumber, selections);
    } else {
      result = writeAutomaticConfiguration(hwInfo, m_selections.optionUpdate.value_or(0) != 0,
                                           portNumber);
    }
    if (result != kConfigWritten) {
      std::fprintf(stderr, "zelupdate generate: cannot create %s\n", kConfigFileName);
      return kExitFailed;
    }
    const bool extension =
        m_manual ? selections.memoryExtension == 1 : (hwInfo & kHwMemoryExtension) != 0;
    std::printf("%s written: COM%d, %s at %s%s\n", kConfigFileName, portNumber,
                m_manual ? manualImageName(selections) : automaticImageName(hwInfo),
                extension ? "0x50000 (AM29F040 bank, memory extension)"
                          : "0x80000 (I28F020 bank, no memory extension)",
                m_manual ? ", manual selections" : "");
    return kExitOk;
  }

 private:
  std::string m_hwText;
  bool m_manual = false;
  std::string m_portText;
  cli::Selections m_selections;
};

}  // namespace

std::unique_ptr<Command> makeGenerateCommand() {
  return std::make_unique<GenerateCommand>();
}
