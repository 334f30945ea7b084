#include "cli/command_line.h"
#include "sim/simulator_support.h"

int main(int argc, char** argv) {
  installSimulatorBackend();
  return runCommandLine(argc, argv);
}
