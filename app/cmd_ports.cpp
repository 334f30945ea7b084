#include "app/command_line.h"

int commandPorts(const std::vector<std::string>&, const CommonOptions&) { return kExitUsage; }
