// The command line of zelupdate: without a command the desktop window (with its switches) or
// --version; one console Run (run); the service commands check, generate, ports, demo, fleet,
// history, explain, backup, restore and simulate; and help. zelupdatew.exe, the program
// without a console, takes the window's part alone.
#pragma once

#include <string>
#include <vector>

struct StoredRecord;

// Exit statuses shared by the commands.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Options that every command takes, removed from the arguments before a command sees them.
struct CommonOptions {
  std::string programPath;   // argv[0]
  std::string traceFile;     // --trace FILE ("-" = standard error)
  std::string settingsFile;  // --settings FILE
  std::string historyFile;   // --history FILE: the service records' file
  bool noHistory = false;    // --no-history: keep no record of the run
  bool windowOnly = false;   // zelupdatew.exe: the window alone, no console command
};

// Parses and runs the whole command line; returns the exit status.
int runCommandLine(int argc, char** argv);
// The command line of zelupdatew.exe, the program without a console: the window with its
// switches and the common options, or --version. A command or help is refused with a line
// that names the console program. Its settings file is the console program's
// (zelupdate.ini beside it).
int runWindowCommandLine(int argc, char** argv);

// The console program that stands beside the window program: "...\zelupdatew.exe" ->
// "...\zelupdate.exe" (any case); any other path as it is.
std::string consoleProgramPath(const std::string& programPath);

// The commands (the window's: without a command word); args are the words after the command
// word.
int commandWindow(const std::vector<std::string>& args, const CommonOptions& common);
int commandRun(const std::vector<std::string>& args, const CommonOptions& common);
int commandCheck(const std::vector<std::string>& args, const CommonOptions& common);
int commandGenerate(const std::vector<std::string>& args, const CommonOptions& common);
int commandPorts(const std::vector<std::string>& args, const CommonOptions& common);
int commandDemo(const std::vector<std::string>& args, const CommonOptions& common);
int commandHistory(const std::vector<std::string>& args, const CommonOptions& common);
int commandExplain(const std::vector<std::string>& args, const CommonOptions& common);
int commandFleet(const std::vector<std::string>& args, const CommonOptions& common);
int commandBackup(const std::vector<std::string>& args, const CommonOptions& common);
int commandRestore(const std::vector<std::string>& args, const CommonOptions& common);
int commandSimulate(const std::vector<std::string>& args, const CommonOptions& common);

// Why the desktop window cannot open here (not built in, no display); empty when it can.
std::string windowUnavailable();

// The settings file in effect for these options.
std::string settingsFileFor(const CommonOptions& common);
// The history file that a run appends its record to: empty with --no-history.
std::string historyFileFor(const CommonOptions& common);
// The history as `zelupdate history` tables it: the header row, then one row per record.
std::vector<std::vector<std::string>> historyTable(const std::vector<StoredRecord>& records);
