// zelupdate generate: writes ROMWRITE.CNF in the current directory as the automatic
// workflow does for a hardware word (--hw), or as the manual workflow does for the
// configuration dialog's selections (--manual).
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "app/config_dlg.h"
#include "cli/command_line.h"
#include "flash/config/config_writer.h"
#include "platform/profile.h"
#include "platform/text_case.h"

namespace {

constexpr const char* kGenerateUsage =
    "usage: zelupdate generate --hw WORD [--port N] [--option-update [yes|no]]\n"
    "       zelupdate generate --manual [--port N] [--memory-extension yes|no]\n"
    "                          [--option none|B1|B10|B20] [--processor-firmware yes|no]\n"
    "                          [--option-update [yes|no]]\n";

// The widest COM number whose "COM%d" still fits the 9 characters of the UART value.
constexpr long kMaxPortNumber = 999999;

int usageError(const char* detail, const std::string& value = {}) {
  std::fprintf(stderr, "zelupdate generate: %s%s\n%s", detail, value.c_str(), kGenerateUsage);
  return kExitUsage;
}

// Decimal, or hexadecimal after "0x"/"0X"; the whole text, and within 32 bits.
std::optional<uint32_t> parseWord(const std::string& text) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  if (digits.empty() || digits.size() > 10) return std::nullopt;
  for (char c : digits) {
    const bool ok =
        hex ? std::isxdigit(static_cast<unsigned char>(c)) != 0 : (c >= '0' && c <= '9');
    if (!ok) return std::nullopt;
  }
  const unsigned long long value = std::strtoull(digits.c_str(), nullptr, hex ? 16 : 10);
  if (value > 0xFFFFFFFFull) return std::nullopt;
  return static_cast<uint32_t>(value);
}

std::optional<int> parseYesNo(const std::string& text) {
  if (platform::equalNoCase(text, "yes")) return 1;
  if (platform::equalNoCase(text, "no")) return 0;
  return std::nullopt;
}

}  // namespace

int commandGenerate(const std::vector<std::string>& args, const CommonOptions& common) {
  std::optional<uint32_t> hwInfo;
  bool manual = false;
  std::optional<long> port;
  std::optional<int> optionUpdate;
  ManualSelections selections;  // the dialog's start values: memory extension, no option
  bool manualOnlyGiven = false;
  std::string option = "none";

  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool hasValue = i + 1 < args.size();
    if (arg == "--hw") {
      if (!hasValue) return usageError("--hw needs a hardware word");
      hwInfo = parseWord(args[++i]);
      if (!hwInfo) return usageError("not a hardware word: ", args[i]);
    } else if (arg == "--manual") {
      manual = true;
    } else if (arg == "--port") {
      if (!hasValue) return usageError("--port needs a COM number");
      const std::optional<uint32_t> value = parseWord(args[++i]);
      if (!value || *value < 1 || *value > kMaxPortNumber) {
        return usageError("not a COM number: ", args[i]);
      }
      port = static_cast<long>(*value);
    } else if (arg == "--option-update") {
      optionUpdate = 1;  // a bare --option-update means yes
      if (hasValue && parseYesNo(args[i + 1])) optionUpdate = *parseYesNo(args[++i]);
    } else if (arg == "--memory-extension" || arg == "--processor-firmware") {
      manualOnlyGiven = true;
      if (!hasValue || !parseYesNo(args[i + 1])) return usageError(arg.c_str(), " needs yes or no");
      const int value = *parseYesNo(args[++i]);
      if (arg == "--memory-extension") selections.memoryExtension = value;
      // The processor firmware selection decides what a manual run updates, not the file.
    } else if (arg == "--option") {
      manualOnlyGiven = true;
      if (!hasValue) return usageError("--option needs none, B1, B10 or B20");
      option = args[++i];
      if (!platform::equalNoCase(option, "none") && !platform::equalNoCase(option, "B1") &&
          !platform::equalNoCase(option, "B10") && !platform::equalNoCase(option, "B20")) {
        return usageError("not an option: ", option);
      }
    } else {
      return usageError("unknown argument: ", arg);
    }
  }
  if (manual == hwInfo.has_value()) return usageError("give either --hw WORD or --manual");
  if (!manual && manualOnlyGiven) return usageError("selections need --manual");

  int portNumber;
  if (port) {
    portNumber = static_cast<int>(*port);
  } else {
    portNumber = platform::getPrivateProfileInt("DEVICE", "PORT_NO", 1, settingsFileFor(common));
    if (portNumber < 1) portNumber = 1;
  }

  int result;
  if (manual) {
    // The configuration dialog's rules: the option button, then its update box as the
    // user leaves it, then OK's checks.
    UpdateSettings settings;
    settings.memoryExtension = selections.memoryExtension;
    const int optionKind = optionKindOfName(option).value_or(kOptionNone);
    chooseOption(settings, optionKind);
    if (optionUpdate) settings.optionUpdate = *optionUpdate;
    const std::string refusal = validateUpdateSettings(settings);
    if (!refusal.empty()) {
      std::fprintf(stderr, "%s\n", refusal.c_str());
      return kExitUsage;
    }
    selections = manualSelectionsOf(settings);
    result = writeManualConfiguration(portNumber, selections);
  } else {
    result = writeAutomaticConfiguration(*hwInfo, optionUpdate.value_or(0) != 0, portNumber);
  }
  if (result != kConfigWritten) {
    std::fprintf(stderr, "zelupdate generate: cannot create %s\n", kConfigFileName);
    return kExitFailed;
  }
  const bool extension =
      manual ? selections.memoryExtension == 1 : (*hwInfo & kHwMemoryExtension) != 0;
  std::printf("%s written: COM%d, %s at %s%s\n", kConfigFileName, portNumber,
              manual ? manualImageName(selections) : automaticImageName(*hwInfo),
              extension ? "0x50000 (AM29F040 bank, memory extension)"
                        : "0x80000 (I28F020 bank, no memory extension)",
              manual ? ", manual selections" : "");
  return kExitOk;
}
