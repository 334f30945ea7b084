#include "cli/command_options.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>

#include "app/config_dlg.h"
#include "platform/path_text.h"
#include "platform/text_case.h"
#include "platform/whole_file.h"
#include "serial/com_ports.h"
#include "serial/port_names.h"
#include "sim/registry.h"
#include "sim/sim_port.h"

namespace cli {

namespace {

// The widest COM number whose "COM%d" still fits the 9 characters of a UART value.
constexpr long kMaxUartComNumber = 999999;

std::string shown(const std::string& text) {
  return serial::printablePortName(text);
}

bool allDigits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// A check for CLI11 from a parser of ours: the value stays as typed; a refusal names the
// value and what is expected ("yes or no, not 'maybe'").
template <typename Parse>
CLI::Validator valueCheck(std::string expected, Parse parse) {
  return CLI::Validator(
      [expected, parse](std::string& value) -> std::string {
        if (parse(value)) return std::string();
        return "takes " + expected + ", not '" + shown(value) + "'";
      },
      "");
}

}  // namespace

std::optional<int> parseOptionKind(const std::string& text) {
  if (platform::equalNoCase(text, "none")) return kOptionNone;
  return optionKindOfName(text);
}

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

std::optional<int> parseComNumber(const std::string& text) {
  std::string digits = text;
  if (text.size() > 3 && platform::equalNoCase(text.substr(0, 3), "COM")) digits = text.substr(3);
  const std::optional<long> number = parseCount(digits, 1, kMaxUartComNumber);
  if (!number) return std::nullopt;
  return static_cast<int>(*number);
}

std::optional<long> parseCount(const std::string& text, long low, long high) {
  if (!allDigits(text) || text.size() > 9) return std::nullopt;
  const long value = std::strtol(text.c_str(), nullptr, 10);
  if (value < low || value > high) return std::nullopt;
  return value;
}

std::string takePort(const std::string& text, const std::string& settingsFile, std::string& port) {
  serial::loadComPortMapping(settingsFile);
  port = serial::commandLinePort(text);
  if (port.empty()) return "not a port: " + shown(text) + " (" + serial::comNumberRule() + ")";
  const int number = serial::comNumberOfName(port);
  const std::string device = number > 0 ? serial::comPortDevice(number) : port;
  if (serial::isNetworkPortName(device)) {
    std::string host;
    uint16_t networkPort = 0;
    if (!serial::parseNetworkPortName(device, host, networkPort)) {
      return "not a network port: " + shown(device) +
             " (rfc2217://HOST:PORT, the port a number from 1 to 65535)";
    }
  } else if (serial::isSimulatedPortName(device)) {
    if (const std::string why = sim::checkPortName(device); !why.empty()) {
      return shown(device) + ": " + shown(why);
    }
  }
  return std::string();
}

std::string outputFileProblem(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path file = fs::absolute(platform::pathFromUtf8(path), error);
  const fs::file_status status = fs::status(file, error);
  if (fs::exists(status)) {
    if (!fs::is_regular_file(status)) return shown(path) + " is not a regular file";
    if (!platform::userMayWrite(path)) return shown(path) + " cannot be written";
    return std::string();
  }
  const fs::path folder = file.parent_path();
  if (!fs::is_directory(folder, error)) {
    return shown(path) + ": no folder " + shown(platform::utf8FromPath(folder));
  }
  if (!platform::userMayWrite(platform::utf8FromPath(folder))) {
    return shown(path) + ": the folder cannot be written";
  }
  return std::string();
}

std::string historyFileProblem(const CommonOptions& common) {
  if (common.historyFile.empty() || common.noHistory) return std::string();
  const std::string why = outputFileProblem(common.historyFile);
  return why.empty() ? why : "--history: " + why;
}

CLI::Validator yesNoValue() {
  return valueCheck("yes or no",
                    [](const std::string& v) { return platform::parseYesNo(v).has_value(); });
}

CLI::Validator optionKindValue() {
  return valueCheck("none, B1, B10 or B20",
                    [](const std::string& v) { return parseOptionKind(v).has_value(); });
}

CLI::Validator wordValue(const char* what) {
  return valueCheck(std::string(what) + " (decimal, or hex after 0x, up to 32 bits)",
                    [](const std::string& v) { return parseWord(v).has_value(); });
}

CLI::Validator comNumberValue() {
  return valueCheck("a COM number from 1 to " + std::to_string(kMaxUartComNumber) + " (5 or COM5)",
                    [](const std::string& v) { return parseComNumber(v).has_value(); });
}

CLI::Validator countValue(long low, long high) {
  return valueCheck(
      "a number from " + std::to_string(low) + " to " + std::to_string(high),
      [low, high](const std::string& v) { return parseCount(v, low, high).has_value(); });
}

CLI::Validator nameValue(const char* what) {
  return valueCheck(what, [](const std::string& v) { return !v.empty(); });
}

void addCommonOptions(CLI::App& app, CommonOptions& common) {
  // Given again, the last one counts: a script may add to a line that names them already.
  constexpr auto kLast = CLI::MultiOptionPolicy::TakeLast;
  app.add_option("--trace", common.traceFile, "the run's trace records into FILE (- stderr)")
      ->type_name("FILE")
      ->check(nameValue("a file name"))
      ->multi_option_policy(kLast);
  app.add_option("--settings", common.settingsFile, "the settings file instead of the default")
      ->type_name("FILE")
      ->check(nameValue("a file name"))
      ->multi_option_policy(kLast);
  app.add_option("--history", common.historyFile,
                 "the service records' file instead of the default")
      ->type_name("FILE")
      ->check(nameValue("a file name"))
      ->multi_option_policy(kLast);
  app.add_flag("--no-history", common.noHistory, "keep no record of the run");
}

CLI::Option* addPortOption(CLI::App& app, std::string& port) {
  return app.add_option("--port", port, "the instrument's port (default: the settings')")
      ->type_name("PORT")
      ->check(nameValue("a port"));
}

CLI::Option* addAssumeYesOption(CLI::App& app, bool& assumeYes) {
  return app.add_flag("--assume-yes", assumeYes, "answer every box at once (OK, Yes)");
}

CLI::Option* addTranscriptOption(CLI::App& app, std::string& file) {
  return app.add_option("--transcript", file, "every status line and box of the run into FILE")
      ->type_name("FILE")
      ->check(nameValue("a file name"));
}

bool Selections::given() const {
  return memoryExtension || processorFirmware || optionUpdate || !option.empty();
}

void addSelectionOptions(CLI::App& app, Selections& selections) {
  app.add_option_function<std::string>(
         "--memory-extension",
         [&selections](const std::string& v) {
           selections.memoryExtension = platform::parseYesNo(v);
         },
         "the board has the memory extension (yes)")
      ->type_name("yes|no")
      ->check(yesNoValue());
  app.add_option("--option", selections.option, "the installed digital option (none)")
      ->type_name("none|B1|B10|B20")
      ->check(optionKindValue());
  app.add_option_function<std::string>(
         "--processor-firmware",
         [&selections](const std::string& v) {
           selections.processorFirmware = platform::parseYesNo(v);
         },
         "update the processor firmware (yes)")
      ->type_name("yes|no")
      ->check(yesNoValue());
  // Alone it means yes: the value is optional, and a word that is not yes or no is no value.
  app.add_option_function<std::string>(
         "--option-update",
         [&selections](const std::string& v) {
           selections.optionUpdate = v.empty() ? 1 : platform::parseYesNo(v).value_or(1);
         },
         "update the option's DSP (yes with an option)")
      ->type_name("[yes|no]")
      ->expected(0, 1)
      ->check(CLI::Validator(
          [](std::string& v) -> std::string {
            if (v.empty() || platform::parseYesNo(v)) return std::string();
            return "takes yes or no, not '" + shown(v) + "'";
          },
          ""));
}

int optionKindOf(const Selections& selections) {
  if (selections.option.empty()) return kOptionNone;
  return parseOptionKind(selections.option).value_or(kOptionNone);
}

std::string valueWordProblem(CLI::App& app, const std::vector<std::string>& words,
                             std::string* commandName) {
  CLI::App* current = &app;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == "--") break;  // operands only from here on
    if (!word.starts_with("-")) {
      // A command word leads into that command's options.
      for (CLI::App* sub : current->get_subcommands([](CLI::App*) { return true; })) {
        if (sub->check_name(word)) {
          current = sub;
          if (commandName != nullptr) *commandName = sub->get_name();
          break;
        }
      }
      continue;
    }
    if (const size_t equals = word.find('='); equals != std::string::npos) {
      // --opt=VALUE: the value as written; an option that takes none takes none this way.
      const std::string name = word.substr(0, equals);
      const CLI::Option* option = current->get_option_no_throw(name);
      if (option != nullptr && option->get_expected_max() == 0) {
        return name + " takes no value, not '" + shown(word.substr(equals + 1)) + "'";
      }
      continue;
    }
    const CLI::Option* option = current->get_option_no_throw(word);
    if (option == nullptr || option->get_expected_max() == 0) continue;  // unknown, or a flag
    const bool needed = option->get_expected_min() > 0;
    const std::string valueName = option->get_type_name();
    if (i + 1 >= words.size()) {
      if (!needed) continue;
      return word + " needs " + (valueName.empty() ? "a value" : valueName);
    }
    const std::string& next = words[i + 1];
    const bool looksLikeOption = next.size() > 1 && next[0] == '-';
    if (looksLikeOption) {
      if (!needed) continue;  // an optional value: the next word is the next option
      std::string problem = word + " needs " + (valueName.empty() ? "a value" : valueName) +
                            ", not the option '" + shown(next) + "'";
      // A file or folder may have such a name; no other value can.
      if (valueName == "FILE" || valueName == "DIR") {
        problem += " (write " + word + "=" + shown(next) + " if that is meant)";
      }
      return problem;
    }
    ++i;  // the value
  }
  return std::string();
}

}  // namespace cli
