#include "cli/command_line.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

#include "app/service_record.h"
#include "app/update_app.h"
#include "cli/command.h"
#include "cli/command_options.h"
#include "platform/debug_output.h"
#include "platform/profile.h"
#include "platform/program_path.h"
#include "platform/text_case.h"
#include "serial/com_ports.h"

namespace {

constexpr const char* kUsage =
    "usage:\n"
    "  zelupdate [/Service] [/OhneZwischenbooten]  the desktop window\n"
    "  zelupdate run [options]                one Run in the console\n"
    "  zelupdate check [FILE]                 check a programming configuration file\n"
    "                                         (default romwrite.cnf)\n"
    "  zelupdate generate --hw WORD | --manual [options]\n"
    "                                         write ROMWRITE.CNF as the automatic or the\n"
    "                                         manual workflow does\n"
    "  zelupdate ports [--all]                the COM port list with each device; --all:\n"
    "                                         every serial device, with stable names\n"
    "  zelupdate demo [DIR] [options]         the sample update set in DIR (default: a new\n"
    "                                         temporary folder), then a simulated\n"
    "                                         instrument updated there\n"
    "  zelupdate fleet [options] PORT...      automatic updates of many instruments\n"
    "  zelupdate history [options]            the service records, oldest first\n"
    "  zelupdate explain [--decimal] CODE     what a result code means (hex, as status\n"
    "                                         lines show it)\n"
    "  zelupdate backup [options] DIR         save the flash an update would erase into\n"
    "                                         DIR, change nothing\n"
    "  zelupdate restore [options] DIR        program a backup back (verified)\n"
    "  zelupdate simulate [options] [KEY=VALUE...]\n"
    "                                         serve a simulated instrument to other\n"
    "                                         programs\n"
    "  zelupdate help [COMMAND]               this overview, or a command's options\n"
    "A command's options: zelupdate COMMAND --help (or -h, or zelupdate help COMMAND).\n"
    "Every command takes --trace FILE, --settings FILE, --history FILE, --no-history\n"
    "and -h/--help; without a command: --version.\n"
    "Exit status: 0 success, 1 the run or the check did not succeed, 2 usage error.\n";

constexpr const char* kHelpCommand = "help";

// Help lines are one per option: the names and value in this many columns, then the text.
constexpr size_t kHelpColumn = 32;

// zelupdatew.exe asked for a command or for help, which print into a console it does not have.
int windowOnlyRefusal(const std::string& what) {
  std::fprintf(stderr,
               "zelupdatew.exe opens the window only. '%s' belongs to the console program: type "
               "\"zelupdate %s\" in a command prompt (\"zelupdate --help\" lists every "
               "command).\n",
               what.c_str(), what.c_str());
  return kExitUsage;
}

int usageError(const std::string& command, const std::string& reason) {
  const std::string name = command.empty() ? "zelupdate" : "zelupdate " + command;
  std::fprintf(stderr, "%s: %s (see %s --help)\n", name.c_str(), reason.c_str(), name.c_str());
  return kExitUsage;
}

// The parser of the whole command line: the options before any command, one subcommand per
// command with its own and the common options, and help.
class CommandLineParser {
 public:
  explicit CommandLineParser(CommonOptions& common) {
    m_top.set_help_flag();
    m_top.allow_extras();
    // One command a line: a later word that names a command is an operand (a folder named
    // "backup"), never a second command.
    m_top.require_subcommand(0, 1);
    m_top.add_flag("-h,--help", m_overview, "the overview of the commands");
    m_top.add_flag("--version", m_version, "the program's version");
    m_top.add_option("switches", m_switches, "the window's switches");
    cli::addCommonOptions(m_top, common);
    auto formatter = std::make_shared<CLI::Formatter>();
    formatter->column_width(kHelpColumn);
    m_top.formatter(formatter);
    for (const CommandEntry& entry : commandTable()) {
      CLI::App* app = m_top.add_subcommand(entry.name, entry.summary);
      app->set_help_flag("-h,--help", "print this command's options and exit");
      app->allow_extras();
      std::unique_ptr<Command> command = entry.make();
      command->define(*app);
      cli::addCommonOptions(*app, common);
      m_commands.emplace_back(app, std::move(command));
    }
    m_help = m_top.add_subcommand(kHelpCommand, "the overview, or the options of one command");
    m_help->set_help_flag("-h,--help", "print this command's options and exit");
    m_help->add_option("COMMAND", m_helpTopic, "the command whose options to print")->type_name("");
    cli::addCommonOptions(*m_help, common);
  }

  CLI::App& top() { return m_top; }

  // The command that the parse chose; nullptr for none (the window) or help.
  Command* chosen(std::string& name) {
    const CLI::App* selected = chosenApp();
    for (auto& [app, command] : m_commands) {
      if (app == selected) {
        name = app->get_name();
        return command.get();
      }
    }
    return nullptr;
  }

  CLI::App* chosenApp() {
    const std::vector<CLI::App*> apps = m_top.get_subcommands();
    return apps.empty() ? nullptr : apps.front();
  }

  CLI::App* commandApp(const std::string& name) {
    if (name == kHelpCommand) return m_help;
    for (auto& [app, command] : m_commands) {
      if (app->get_name() == name) return app;
    }
    return nullptr;
  }

  bool m_overview = false;
  bool m_version = false;
  std::vector<std::string> m_switches;
  CLI::App* m_help = nullptr;
  std::string m_helpTopic;

 private:
  CLI::App m_top{"firmware update of ZEL digital-TV test receivers", "zelupdate"};
  std::vector<std::pair<CLI::App*, std::unique_ptr<Command>>> m_commands;
};

void printHelp(CLI::App& app) {
  std::fputs(app.help("zelupdate").c_str(), stdout);
}

// What a parse error of CLI11 says, as one line in our words.
std::string parseErrorReason(const CLI::ParseError& error) {
  std::string text = error.what();
  if (!text.empty() && text.back() == '\n') text.pop_back();
  // "--port: At Most 1 required but received 2": an option that takes one value, twice.
  if (const size_t at = text.find(": At Most 1 required"); at != std::string::npos) {
    return text.substr(0, at) + " is given more than once";
  }
  // "Could not convert: --dry-run = maybe": a value given to an option that takes none.
  constexpr std::string_view kConvert = "Could not convert: ";
  if (text.starts_with(kConvert)) {
    const std::string rest = text.substr(kConvert.size());
    if (const size_t eq = rest.find(" = "); eq != std::string::npos) {
      return rest.substr(0, eq) + " takes no value, not '" +
             serial::printablePortName(rest.substr(eq + 3)) + "'";
    }
  }
  return serial::printablePortName(text);
}

// The first word that no option or operand took.
std::string extraWordReason(const std::vector<std::string>& remaining) {
  const std::string& word = remaining.front();
  const std::string shown = serial::printablePortName(word);
  if (word.size() > 1 && word[0] == '-') return "unknown option '" + shown + "'";
  return "unexpected argument '" + shown + "'";
}

}  // namespace

std::span<const CommandEntry> commandTable() {
  static const CommandEntry table[] = {
      {"run", "one Run of the main dialog in the console, automatic or manual", makeRunCommand},
      {"check", "read and check a programming configuration file as the update would",
       makeCheckCommand},
      {"generate", "write ROMWRITE.CNF as the automatic (--hw) or manual (--manual) update does",
       makeGenerateCommand},
      {"ports", "the COM port list with each device; --all: every serial device", makePortsCommand},
      {"demo", "the sample update set in a folder, then a simulated instrument updated there",
       makeDemoCommand},
      {"fleet", "automatic updates of many instruments at once, a child run per port",
       makeFleetCommand},
      {"history", "the service records, oldest first", makeHistoryCommand},
      {"explain", "the meaning of a result code", makeExplainCommand},
      {"backup", "read the flash areas an update would erase into a folder, change nothing",
       makeBackupCommand},
      {"restore", "program a backup back into the instrument's flash, verified",
       makeRestoreCommand},
      {"simulate", "serve a simulated instrument to other programs", makeSimulateCommand},
  };
  return table;
}

std::string settingsFileFor(const CommonOptions& common) {
  if (!common.settingsFile.empty()) return common.settingsFile;
  return platform::settingsFilePath(common.programPath);
}

std::string historyFileFor(const CommonOptions& common) {
  if (common.noHistory) return std::string();
  if (!common.historyFile.empty()) return common.historyFile;
  return defaultHistoryPath();
}

namespace {

// Each step of a command line below either answers the line itself (a usage error, help, the
// version), with the exit status, or lets it go on (no value).

// Parses the words into the parser and common; a parse that fails or asks for help is
// answered here.
std::optional<int> parseWords(CommandLineParser& parser, const std::vector<std::string>& words,
                              const CommonOptions& common) {
  std::string commandName;
  if (const std::string problem = cli::valueWordProblem(parser.top(), words, &commandName);
      !problem.empty()) {
    return usageError(commandName, problem);
  }
  std::vector<std::string> reversed(words.rbegin(), words.rend());
  try {
    parser.top().parse(reversed);
  } catch (const CLI::CallForHelp&) {
    CLI::App* app = parser.chosenApp();
    if (common.windowOnly) return windowOnlyRefusal(app ? app->get_name() + " --help" : "--help");
    if (app == nullptr) {
      std::fputs(kUsage, stdout);
    } else {
      printHelp(*app);
    }
    return kExitOk;
  } catch (const CLI::ParseError& error) {
    CLI::App* app = parser.chosenApp();
    const std::string name = app ? app->get_name() : std::string();
    // A mistyped option explains a missing operand better than the operand's absence.
    if (const std::vector<std::string> extra = parser.top().remaining(true); !extra.empty()) {
      return usageError(name, extraWordReason(extra));
    }
    return usageError(name, parseErrorReason(error));
  }
  return std::nullopt;
}

// Words that no option or operand took, and the window's switches given to a command or
// mistyped.
std::optional<int> checkLeftoverWords(CommandLineParser& parser) {
  CLI::App* app = parser.chosenApp();
  const std::string appName = app ? app->get_name() : std::string();
  if (const std::vector<std::string> extra = parser.top().remaining(true); !extra.empty()) {
    return usageError(appName, extraWordReason(extra));
  }
  for (const std::string& word : parser.m_switches) {
    // The window's switches stand alone; any other word there is a mistyped command.
    const bool isSwitch = word == kSwitchService || word == kSwitchNoIntermediateBoot;
    if (app == nullptr && isSwitch) continue;
    const std::string shown = serial::printablePortName(word);
    if (isSwitch) return usageError("", shown + " is a switch of the window, not of a command");
    return usageError(
        "", (word.starts_with("/") ? "unknown switch '" : "unknown command '") + shown + "'");
  }
  return std::nullopt;
}

// --help, --version and the help command; zelupdatew.exe refuses what prints into a console.
std::optional<int> answerHelpOrVersion(CommandLineParser& parser, const CommonOptions& common) {
  CLI::App* app = parser.chosenApp();
  if (common.windowOnly && (app != nullptr || parser.m_overview)) {
    return windowOnlyRefusal(app ? app->get_name() : "--help");
  }
  if (parser.m_overview) {
    // "zelupdate --help run": that command's help.
    if (app != nullptr && app != parser.m_help) {
      printHelp(*app);
    } else {
      std::fputs(kUsage, stdout);
    }
    return kExitOk;
  }
  if (parser.m_version && app != nullptr) {
    return usageError("", "--version takes no command ('" + app->get_name() + "')");
  }
  if (parser.m_version) {
    std::printf("zelupdate %s\n", ZEL_VERSION);
    return kExitOk;
  }
  if (app != parser.m_help) return std::nullopt;
  if (parser.m_helpTopic.empty()) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  CLI::App* topic = parser.commandApp(parser.m_helpTopic);
  if (topic == nullptr) {
    return usageError(kHelpCommand,
                      "no command '" + serial::printablePortName(parser.m_helpTopic) + "'");
  }
  printHelp(*topic);
  return kExitOk;
}

// Runs the command (nullptr: the window) with the trace and the settings file of this command
// line; a nested command (the demo's fleet) keeps those of the line that started it, given.
int runWithTrace(CommandLineParser& parser, Command* command, const CommonOptions& common,
                 const CommonOptions& given) {
  const bool newTrace = common.traceFile != given.traceFile;
  std::string why;
  if (newTrace && !platform::setDebugOutputFile(common.traceFile, &why)) {
    std::fprintf(stderr, "zelupdate: cannot create trace file %s: %s\n",
                 serial::printablePortName(common.traceFile).c_str(), why.c_str());
    return kExitUsage;
  }
  if (common.settingsFile != given.settingsFile) {
    platform::setSettingsFileOverride(common.settingsFile);
  }

  const int status =
      command != nullptr ? command->run(common) : commandWindow(parser.m_switches, common);
  if (newTrace) {
    // A trace that could not be written is said once, at the end; the status stays the run's.
    platform::setDebugOutputFile("");
    if (const std::string error = platform::debugOutputWriteError(); !error.empty()) {
      std::fprintf(stderr, "zelupdate: cannot write trace file %s: %s\n", common.traceFile.c_str(),
                   error.c_str());
    }
  }
  return status;
}

}  // namespace

int runCommandWords(const std::vector<std::string>& words, CommonOptions common) {
  const CommonOptions given = common;
  CommandLineParser parser(common);
  if (const std::optional<int> status = parseWords(parser, words, common)) return *status;
  if (const std::optional<int> status = checkLeftoverWords(parser)) return *status;
  if (const std::optional<int> status = answerHelpOrVersion(parser, common)) return *status;
  std::string commandName;
  Command* command = parser.chosen(commandName);
  if (command != nullptr) {
    if (const std::string problem = command->check(common); !problem.empty()) {
      return usageError(commandName, problem);
    }
  }
  return runWithTrace(parser, command, common, given);
}

namespace {

bool endsWithNoCase(const std::string& text, std::string_view end) {
  return text.size() >= end.size() &&
         platform::equalNoCase(std::string_view(text).substr(text.size() - end.size()), end);
}

// The program's own file where the system tells it and it ends in ".exe" (the settings file
// lies beside it): a program typed as "zelupdate" at a prompt has "zelupdate" as argv[0], and
// would otherwise take another settings file than when typed as "zelupdate.exe".
CommonOptions optionsOf(int argc, char** argv, std::vector<std::string>& words) {
  CommonOptions common;
  const std::string self = platform::programPath();
  common.programPath = endsWithNoCase(self, ".exe") ? self : argc > 0 ? argv[0] : "zelupdate";
  for (int i = 1; i < argc; ++i) words.emplace_back(argv[i]);
  return common;
}

}  // namespace

std::string consoleProgramPath(const std::string& programPath) {
  if (!endsWithNoCase(programPath, "zelupdatew.exe")) return programPath;
  return programPath.substr(0, programPath.size() - 5) + programPath.substr(programPath.size() - 4);
}

int runCommandLine(int argc, char** argv) {
  std::vector<std::string> words;
  const CommonOptions common = optionsOf(argc, argv, words);
  return runCommandWords(words, common);
}

int runWindowCommandLine(int argc, char** argv) {
  std::vector<std::string> words;
  CommonOptions common = optionsOf(argc, argv, words);
  common.programPath = consoleProgramPath(common.programPath);
  common.windowOnly = true;
  return runCommandWords(words, common);
}

namespace {

std::vector<std::string> withCommand(const char* name, const std::vector<std::string>& args) {
  std::vector<std::string> words{name};
  words.insert(words.end(), args.begin(), args.end());
  return words;
}

}  // namespace

int commandRun(const std::vector<std::string>& args, const CommonOptions& common) {
  return runCommandWords(withCommand("run", args), common);
}
int commandCheck(const std::vector<std::string>& args, const CommonOptions& common) {
  return runCommandWords(withCommand("check", args), common);
}
int commandGenerate(const std::vector<std::string>& args, const CommonOptions& common) {
  return runCommandWords(withCommand("generate", args), common);
}
int commandPorts(const std::vector<std::string>& args, const CommonOptions& common) {
  return runCommandWords(withCommand("ports", args), common);
}
int commandDemo(const std::vector<std::string>& args, const CommonOptions& common) {
  return runCommandWords(withCommand("demo", args), common);
}
int commandHistory(const std::vector<std::string>& args, const CommonOptions& common) {
  return runCommandWords(withCommand("history", args), common);
}
int commandExplain(const std::vector<std::string>& args, const CommonOptions& common) {
  return runCommandWords(withCommand("explain", args), common);
}
int commandFleet(const std::vector<std::string>& args, const CommonOptions& common) {
  return runCommandWords(withCommand("fleet", args), common);
}
int commandBackup(const std::vector<std::string>& args, const CommonOptions& common) {
  return runCommandWords(withCommand("backup", args), common);
}
int commandRestore(const std::vector<std::string>& args, const CommonOptions& common) {
  return runCommandWords(withCommand("restore", args), common);
}
int commandSimulate(const std::vector<std::string>& args, const CommonOptions& common) {
  return runCommandWords(withCommand("simulate", args), common);
}
