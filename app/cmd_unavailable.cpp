// Commands whose front end is not built yet.
#include <cstdio>

#include "app/command_line.h"

namespace {

int notAvailable(const char* what) {
  std::fprintf(stderr, "zelupdate: %s is not available yet\n", what);
  return kExitUsage;
}

}  // namespace
