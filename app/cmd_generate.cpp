#include "app/command_line.h"

int commandGenerate(const std::vector<std::string>&, const CommonOptions&) { return kExitUsage; }
