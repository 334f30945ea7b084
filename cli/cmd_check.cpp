// zelupdate check [FILE]: reads and checks a programming configuration file the way the
// processor update does before it talks to the target, and prints what that update
// would add to the status list.
#include <cstdio>
#include <string>

#include "cli/command_line.h"
#include "flash/config/config_check.h"
#include "flash/config/config_reader.h"
#include "flash/config/config_writer.h"

int commandCheck(const std::vector<std::string>& args, const CommonOptions&) {
  std::string fileName = kConfigReadName;
  if (args.size() > 1 || (!args.empty() && args[0].size() > 1 && args[0][0] == '-')) {
    std::fprintf(stderr, "usage: zelupdate check [FILE]\n");
    return kExitUsage;
  }
  if (!args.empty()) fileName = args[0];

  std::string diagnosis;
  int result = readProgrammingConfig(programmingJob, fileName, &diagnosis);
  if (result != kConfigReadOk) {
    // What the update shows, then where and why; the result stays the last line.
    std::printf("ERROR - check ROMWRITE.CNF:  update aborted\n%s\nresult %d\n", diagnosis.c_str(),
                result);
    return kExitFailed;
  }
  std::string message;
  result = checkProgrammingJob(programmingJob, message);
  if (result != kCheckOk) {
    std::printf("ERROR - check GENERAL:  update aborted\n%s\nresult %d\n", message.c_str(), result);
    return kExitFailed;
  }
  std::printf("%s\n", message.c_str());
  return kExitOk;
}
