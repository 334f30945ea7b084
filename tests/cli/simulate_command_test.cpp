// `zelupdate simulate` as another program meets it: started in the background, it names
// where it listens on its first line, a dry run of a second zelupdate identifies its
// instrument there, and Ctrl-C ends it with the instrument's report.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

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
    // Its output comes through a pipe, so that the test waits for the first line itself.
    int out[2];
    int in[2];  // its standard input: the operator's lines
    ASSERT_EQ(::pipe(out), 0);
    ASSERT_EQ(::pipe(in), 0);
    const pid_t server = ::fork();
    ASSERT_GE(server, 0);
    if (server == 0) {
      ::dup2(out[1], 1);
      ::dup2(out[1], 2);
      ::dup2(in[0], 0);
      ::close(out[0]);
      ::close(out[1]);
      ::close(in[0]);
      ::close(in[1]);
      const std::string command = "cd '" + dir.path() + "' && exec '" ZEL_PROGRAM "' simulate " +
                                  row.how + " version=04.40,baud=19200";
      ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(out[1]);
    ::close(in[0]);
    std::string served;
    const auto readSome = [&](int timeoutMs) {
      pollfd entry{out[0], POLLIN, 0};
      if (::poll(&entry, 1, timeoutMs) <= 0) return false;
      char chunk[512];
      const ssize_t got = ::read(out[0], chunk, sizeof chunk);
      if (got <= 0) return false;
      served.append(chunk, static_cast<size_t>(got));
      return true;
    };
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(testing_support::generousMs(1000));
    while (served.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline &&
           readSome(static_cast<int>(testing_support::generousMs(1000)))) {
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

    // The operator switches it off and on from standard input; a line it does not know is
    // answered with those it knows.
    const std::string lines = "power-cycle\nbogus\n";
    ASSERT_EQ(::write(in[1], lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
    const auto told = std::chrono::steady_clock::now() +
                      std::chrono::milliseconds(testing_support::generousMs(2000));
    while (served.find("unknown line 'bogus'") == std::string::npos &&
           std::chrono::steady_clock::now() < told &&
           readSome(static_cast<int>(testing_support::generousMs(1000)))) {
    }
    EXPECT_NE(served.find("power cycle: the instrument is running firmware 04.40"),
              std::string::npos)
        << served;
    EXPECT_NE(served.find("unknown line 'bogus': the lines are power-cycle"), std::string::npos)
        << served;
    ::close(in[1]);

    ::kill(server, SIGINT);
    // The rest of its output up to its end (the pipe closes when it exits).
    while (readSome(static_cast<int>(testing_support::generousMs(1000)))) {
    }
    ::close(out[0]);
    int serverStatus = 0;
    ASSERT_EQ(::waitpid(server, &serverStatus, 0), server);
    EXPECT_TRUE(WIFEXITED(serverStatus) && WEXITSTATUS(serverStatus) == 0);
    const std::string& report = served;
    EXPECT_NE(report.find("text commands: "), std::string::npos) << report;
    EXPECT_NE(report.find("power cycles: 1"), std::string::npos) << report;
    if (row.how[2] == 'r') {
      EXPECT_NE(report.find("client connected"), std::string::npos) << report;
    }
  }
}

}  // namespace
