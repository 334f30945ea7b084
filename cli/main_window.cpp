// zelupdatew.exe: the window of zelupdate without a console window beside it (linked for the
// Windows subsystem; the Start menu starts it). What it would print appears in message boxes.
#include "cli/command_line.h"
#include "frontends/win32/win32_host.h"
#include "sim/simulator_support.h"

int main(int argc, char** argv) {
  installSimulatorBackend();
  ui::win32::showOutputInMessageBoxes();
  const int status = runWindowCommandLine(argc, argv);
  ui::win32::finishOutputMessageBoxes();
  return status;
}
