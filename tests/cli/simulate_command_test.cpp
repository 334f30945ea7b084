// `zelupdate simulate` as another program meets it: started in the background, it names
// where it listens on its first line, a dry run of a second zelupdate identifies its
// instrument there, and Ctrl-C ends it with the instrument's report.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "tests/support/temp_dir.h"
#include "tests/support/timing.h"

namespace {

using testing_support::TempDir;

TEST(SimulateCommand, ServesAnotherZelupdateUntilInterrupted) {
  struct Row {
    const char* what;
    const char* how;
    const char* firstLine;  // its start
  };
  const Row rows[] = {
      {"terminal server", "--rfc2217 127.0.0.1:0", "rfc2217://127.0.0.1:"},
      {"pseudo-terminal", "--pty", "/dev/pts/"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    TempDir dir;
    const pid_t server = ::fork();
    ASSERT_GE(server, 0);
    if (server == 0) {
      const std::string command = "cd '" + dir.path() + "' && exec '" ZEL_PROGRAM "' simulate " +
                                  row.how + " version=04.40,baud=19200 >served.txt 2>&1";
      ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    std::string served;
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(testing_support::generousMs(1000));
    while (served.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      served = dir.read("served.txt");
    }
    const std::string where = served.substr(0, served.find('\n'));
    EXPECT_TRUE(where.starts_with(row.firstLine)) << served;

    const std::string run = "cd '" + dir.path() +
                            "' && '" ZEL_PROGRAM
                            "' --settings absent.ini --no-history run --dry-run --port '" +
                            where + "' </dev/null >run.txt 2>&1";
    // No update files here: the dry run stops after the identification, which is what counts.
    EXPECT_NE(std::system(run.c_str()), -1);
    EXPECT_NE(dir.read("run.txt").find("Current software version ZEL: 04.40"), std::string::npos)
        << dir.read("run.txt");

    ::kill(server, SIGINT);
    int serverStatus = 0;
    ASSERT_EQ(::waitpid(server, &serverStatus, 0), server);
    EXPECT_TRUE(WIFEXITED(serverStatus) && WEXITSTATUS(serverStatus) == 0);
    const std::string report = dir.read("served.txt");
    EXPECT_NE(report.find("text commands: "), std::string::npos) << report;
    if (row.how[2] == 'r') {
      EXPECT_NE(report.find("client connected"), std::string::npos) << report;
    }
  }
}

}  // namespace
