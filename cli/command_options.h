// The options that several commands share and the kinds of values the command line takes,
// each defined once, so that a value is checked the same way by every command.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/command_line.h"

namespace cli {

// Value kinds. Each parser takes the whole text or nothing.
// "none", "B1", "B10" or "B20", any case: the option kind of the configuration dialog.
std::optional<int> parseOptionKind(const std::string& text);
// Decimal, or hexadecimal after "0x"/"0X", within 32 bits.
std::optional<uint32_t> parseWord(const std::string& text);
// The COM number of a ROMWRITE.CNF line: "5" or "COM5" (any case), 1 to 999999, the widest
// number whose "COM%d" still fits the file's 9 characters.
std::optional<int> parseComNumber(const std::string& text);
// A whole decimal number from low to high.
std::optional<long> parseCount(const std::string& text, long low, long high);

// The port of --port (run, backup, restore) or of a fleet: a COM number 1 to 15 ("5",
// "COM5"; higher where the settings file maps it), a device path, rfc2217://HOST:PORT with a
// port from 1 to 65535, or sim:KEY=VALUE,... with valid options. The settings file's mapping
// is loaded first. On success port is the name as a run takes it and the result is empty;
// else the reason, naming the text given.
std::string takePort(const std::string& text, const std::string& settingsFile, std::string& port);

// Why a file that the run writes or appends to at its end (a record, a report) cannot be
// written: a folder, a FIFO or a device in its place, no folder for it (none is made), no
// right to write. Empty when it can be. Said before anything starts, so that nothing done
// is lost for want of its record.
std::string outputFileProblem(const std::string& path);
// outputFileProblem for the history named by --history, as "--history: ..."; empty when none
// is named (the default one's folder is made) or no record is kept.
std::string historyFileProblem(const CommonOptions& common);

// Checks that turn into a parse error naming the option; the same check wherever the kind is
// taken.
CLI::Validator yesNoValue();
CLI::Validator optionKindValue();
CLI::Validator wordValue(const char* what);
CLI::Validator comNumberValue();
CLI::Validator countValue(long low, long high);
CLI::Validator nameValue(const char* what);  // a file or folder name: not empty

// The shared options, defined once. Each returns the option for further settings.
// --trace FILE, --settings FILE, --history FILE, --no-history: every command takes them.
void addCommonOptions(CLI::App& app, CommonOptions& common);
// --port PORT of run, backup and restore: checked against the settings file by takePort
// once the whole line is read.
CLI::Option* addPortOption(CLI::App& app, std::string& port);
// --assume-yes: every message box answered at once.
CLI::Option* addAssumeYesOption(CLI::App& app, bool& assumeYes);
// --transcript FILE.
CLI::Option* addTranscriptOption(CLI::App& app, std::string& file);
// The configuration dialog's selections: --memory-extension, --option, --processor-firmware
// and --option-update [yes|no] (alone: yes).
struct Selections {
  std::optional<int> memoryExtension;
  std::optional<int> processorFirmware;
  std::optional<int> optionUpdate;
  std::string option;  // empty when not given
  std::string optionUpdateText;
  bool given() const;
};
void addSelectionOptions(CLI::App& app, Selections& selections);
// The option kind chosen, none when not given.
int optionKindOf(const Selections& selections);

// The reason of a usage error for words that no value can begin with: a word beginning with
// "-" (other than "-" alone, standard input or output) after an option that needs a value,
// unless it is written --opt=VALUE; and an option that needs a value at the end of the line.
// Empty when there is none. Command words lead into their command's options; commandName
// is set to the last one met.
std::string valueWordProblem(CLI::App& app, const std::vector<std::string>& words,
                             std::string* commandName = nullptr);

}  // namespace cli
