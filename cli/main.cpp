#include "cli/command_line.h"
#include "platform/terminal.h"
#include "sim/simulator_support.h"

int main(int argc, char** argv) {
  // Folder and file names outside ASCII reach a Windows console as they are.
  const platform::Utf8Console console;
  installSimulatorBackend();
  return runCommandLine(argc, argv);
}
