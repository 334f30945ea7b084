// zelupdate check [FILE]: reads and checks a programming configuration file the way the
// processor update does before it talks to the target, and prints what that update
// would add to the status list.
#include <cstdio>
#include <string>

#include "cli/command.h"
#include "cli/command_options.h"
#include "flash/config/config_check.h"
#include "flash/config/config_reader.h"
#include "flash/config/config_writer.h"

namespace {

class CheckCommand final : public Command {
 public:
  void define(CLI::App& app) override {
    app.add_option("FILE", m_fileName, "the file to check (default romwrite.cnf)")
        ->type_name("")
        ->check(cli::nameValue("a file name"));
    app.footer(
        "Prints \"Check OK !\", or the status lines of the failure and a last line\n"
        "\"result N\" with the code in decimal. Exit status: 0 checked OK, 1 not, 2 usage\n"
        "error.");
  }

  int run(const CommonOptions&) override {
    std::string diagnosis;
    int result = readProgrammingConfig(programmingJob, m_fileName, &diagnosis);
    if (result != kConfigReadOk) {
      // What the update shows, then where and why; the result stays the last line.
      std::printf("ERROR - check ROMWRITE.CNF:  update aborted\n%s\nresult %d\n", diagnosis.c_str(),
                  result);
      return kExitFailed;
    }
    std::string message;
    result = checkProgrammingJob(programmingJob, message);
    if (result != kCheckOk) {
      std::printf("ERROR - check GENERAL:  update aborted\n%s\nresult %d\n", message.c_str(),
                  result);
      return kExitFailed;
    }
    // The update erases the job's areas before it programs: an image that runs past them is
    // refused there, and so here.
    std::string fit;
    if (result = checkProgramsFitErasedFlash(programmingJob, fit); result != kCheckOk) {
      std::printf("ERROR - program file does not fit: update aborted\n%s\nresult %d\n", fit.c_str(),
                  result);
      return kExitFailed;
    }
    std::printf("%s\n", message.c_str());
    return kExitOk;
  }

 private:
  std::string m_fileName = kConfigReadName;
};

}  // namespace

std::unique_ptr<Command> makeCheckCommand() {
  return std::make_unique<CheckCommand>();
}
