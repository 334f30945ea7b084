// Where the running program's own file is, so that it can start itself again (the fleet's
// children) and find what lies beside it.
#pragma once

#include <string>

namespace platform {

// The absolute path of the running program's file; empty when the system does not tell it.
std::string programPath();

}  // namespace platform
