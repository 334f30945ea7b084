// Linked into every test program that uses the simulated instrument: its "sim:" ports open
// through the factory of serial devices, as they do in the program.
#include "sim/simulator_support.h"

namespace {
const bool g_installed = (installSimulatorBackend(), true);
}  // namespace
