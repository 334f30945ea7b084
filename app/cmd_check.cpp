#include "app/command_line.h"

int commandCheck(const std::vector<std::string>&, const CommonOptions&) { return kExitUsage; }
