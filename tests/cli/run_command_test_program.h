// The program itself, run by the tests of `zelupdate run` and `zelupdate demo`
// (run_command_test_*.cpp): in a folder of its own with its output in files, or on a terminal
// of its own with the test at the keyboard; and the folder's update set and history.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "app/service_record.h"
#include "tests/support/pty_pair.h"
#include "tests/support/temp_dir.h"

namespace cli_test {

using testing_support::TempDir;

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the program in the folder with standard input from /dev/null and the output in files
// (or, with closedOutput, standard output a pipe that nobody reads). Its settings and history
// files are the folder's.
Result runProgram(const TempDir& dir, const std::vector<std::string>& args,
                  bool closedOutput = false);

// The program on a terminal of its own (its controlling terminal, so that Ctrl-C typed there
// reaches it as SIGINT); the test is the technician at the keyboard.
class TerminalProgram {
 public:
  TerminalProgram(const TempDir& dir, const std::vector<std::string>& args);
  ~TerminalProgram();

  // Reads the terminal (bounded, real time) until its output holds the text.
  bool waitFor(const std::string& text);
  void type(const std::string& keys) { m_pty.send(keys); }
  // Waits (bounded) for the program's end: its exit status, -1 when it was killed.
  int finish();
  const std::string& output() const { return m_output; }
  pid_t pid() const { return m_pid; }
  // The terminal echoes and reads whole lines, as a shell left it.
  bool terminalRestored() const;

 private:
  testing_support::PtyPair m_pty;
  pid_t m_pid = -1;
  int m_status = -2;
  std::string m_output;
};

std::vector<std::string> linesOf(const std::string& text);

// The records of the folder's history file.
std::vector<StoredRecord> recordsOf(const TempDir& dir);

// The folder of an update: the sample set, less the files named.
void writeUpdateSet(const TempDir& dir, const std::vector<std::string>& missing = {});

}  // namespace cli_test
