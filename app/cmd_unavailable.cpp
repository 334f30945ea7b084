// Commands whose front end is not built yet.
#include <cstdio>

#include "app/command_line.h"

namespace {

int notAvailable(const char* what) {
  std::fprintf(stderr, "zelupdate: %s is not available yet\n", what);
  return kExitUsage;
}

}  // namespace

int commandWindow(const std::vector<std::string>&, const CommonOptions&) {
  return notAvailable("the desktop window");
}
int commandRun(const std::vector<std::string>&, const CommonOptions&) {
  return notAvailable("run");
}
int commandDemo(const std::vector<std::string>&, const CommonOptions&) {
  return notAvailable("demo");
}
