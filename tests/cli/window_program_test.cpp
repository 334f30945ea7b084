// zelupdatew.exe, the window without a console: its command line and its settings file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/command_line.h"

namespace {

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

Outcome runWindowProgram(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int status = runWindowCommandLine(static_cast<int>(args.size()), argv.data());
  std::string out = testing::internal::GetCapturedStdout();
  return {status, out, testing::internal::GetCapturedStderr()};
}

std::string refusal(const std::string& what) {
  return "zelupdatew.exe opens the window only. '" + what +
         "' belongs to the console program: type \"zelupdate " + what +
         "\" in a command prompt (\"zelupdate --help\" lists every command).\n";
}

// Commands and help print into a console, which the window program does not have: each is
// refused before anything runs, with the console program's command line to type instead.
TEST(WindowProgram, commands_and_help_are_refused_with_the_console_programs_command) {
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const Case cases[] = {
      {{"zelupdatew", "run", "--port", "COM5"}, refusal("run")},
      {{"zelupdatew", "--settings", "x.ini", "ports", "--all"}, refusal("ports")},
      {{"zelupdatew", "demo", "--window"}, refusal("demo")},
      {{"zelupdatew", "--help"}, refusal("--help")},
      {{"zelupdatew", "help", "run"}, refusal("help")},
      {{"zelupdatew", "run", "--help"}, refusal("run --help")},
      // A mistake is said as the console program says it.
      {{"zelupdatew", "/Servce"}, "zelupdate: unknown switch '/Servce' (see zelupdate --help)\n"},
  };
  for (const Case& c : cases) {
    const Outcome outcome = runWindowProgram(c.args);
    EXPECT_EQ(outcome.status, kExitUsage) << c.args[1];
    EXPECT_EQ(outcome.err, c.err) << c.args[1];
    EXPECT_EQ(outcome.out, "") << c.args[1];
  }
  const Outcome version = runWindowProgram({"zelupdatew", "--version"});
  EXPECT_EQ(version.status, kExitOk);
  EXPECT_EQ(version.out, "zelupdate " ZEL_VERSION "\n");
}

// Both programs read one settings file: the one beside the console program.
TEST(WindowProgram, takes_the_console_programs_settings_file) {
  const std::pair<std::string, std::string> rows[] = {
      {"C:\\Program Files\\zelupdate\\zelupdatew.exe",
       "C:\\Program Files\\zelupdate\\zelupdate.exe"},
      {"D:\\ZEL\\ZELUPDATEW.EXE", "D:\\ZEL\\ZELUPDATE.EXE"},
      {"C:\\zel\\zelupdate.exe", "C:\\zel\\zelupdate.exe"},
      {"/usr/bin/zelupdate", "/usr/bin/zelupdate"},
  };
  for (const auto& [program, console] : rows) EXPECT_EQ(consoleProgramPath(program), console);
}

}  // namespace
