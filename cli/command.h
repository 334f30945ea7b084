// One command of the command line as the parser sees it: its options and operands, bound to
// members of the command, a check of what the parser cannot judge alone, and its work.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "cli/command_line.h"

namespace CLI {
class App;
}

class Command {
 public:
  virtual ~Command() = default;
  // Adds the command's own options and operands to app (the shared ones come from
  // cli/command_options.h), each with one line of help.
  virtual void define(CLI::App& app) = 0;
  // After a parse without error, before anything is opened or written: what the parser cannot
  // check alone (a port against the settings file's mapping, options that exclude each other).
  // Empty when the words are fine, else the one-line reason of a usage error.
  virtual std::string check(const CommonOptions& common) {
    static_cast<void>(common);
    return {};
  }
  // Does the command's work; the exit status.
  virtual int run(const CommonOptions& common) = 0;
};

struct CommandEntry {
  const char* name;
  const char* summary;  // one line, for the command's help
  std::unique_ptr<Command> (*make)();
};

// Every command, in the order of the overview.
std::span<const CommandEntry> commandTable();

// The commands' constructors, one per cmd_*.cpp.
std::unique_ptr<Command> makeRunCommand();
std::unique_ptr<Command> makeCheckCommand();
std::unique_ptr<Command> makeGenerateCommand();
std::unique_ptr<Command> makePortsCommand();
std::unique_ptr<Command> makeDemoCommand();
std::unique_ptr<Command> makeFleetCommand();
std::unique_ptr<Command> makeHistoryCommand();
std::unique_ptr<Command> makeExplainCommand();
std::unique_ptr<Command> makeBackupCommand();
std::unique_ptr<Command> makeRestoreCommand();
std::unique_ptr<Command> makeSimulateCommand();

// Parses words (the command word first; none for the window) and runs what they ask for, as
// the program does with its arguments; common holds the options given before, which the words
// may add to. The exit status.
int runCommandWords(const std::vector<std::string>& words, CommonOptions common);
