// Child processes: output through the pipe, the way each ended, and no child outliving
// its parent. Every wait is for an event on a pipe, bounded, never a pause.
#include "platform/child_process.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/temp_dir.h"

namespace {

constexpr int kBoundMs = 20000;

std::vector<std::string> shell(const std::string& script) {
  return {"/bin/sh", "-c", script};
}

// Output until the child closes it (or until `until` has come, when given).
std::string outputOf(platform::ChildProcess& child, const std::string& until = "") {
  std::string text;
  char buffer[256];
  while (until.empty() || text.find(until) == std::string::npos) {
    const int n = child.readOutput(buffer, sizeof buffer);
    if (n < 0) break;
    if (n > 0) text.append(buffer, static_cast<size_t>(n));
    if (n == 0 && !platform::waitForChildren({&child}, -1, kBoundMs)) break;
  }
  return text;
}

TEST(ChildProcess, output_and_end_of_each_child) {
  testing_support::TempDir dir(false);
  const std::string folder = std::filesystem::canonical(dir.path()).string();
  const struct {
    std::string script;
    std::string output;
    bool exited;
    int code;
    std::string cause;
  } rows[] = {
      {"echo out; echo err >&2; exit 3", "out\nerr\n", true, 3, ""},
      {"pwd; read line || echo no input", folder + "\nno input\n", true, 0, ""},
      {"echo bye; kill -9 $$", "bye\n", false, -1, "ended by signal 9 (Killed)"},
  };
  for (const auto& row : rows) {
    platform::ChildProcess child;
    std::string why;
    ASSERT_TRUE(child.start(shell(row.script), folder, &why)) << why;
    EXPECT_GT(child.id(), 0);
    EXPECT_EQ(outputOf(child), row.output) << row.script;
    EXPECT_FALSE(child.outputOpen());
    platform::ChildExit exit;
    ASSERT_TRUE(child.wait(true, exit));
    EXPECT_EQ(exit.exited, row.exited) << row.script;
    EXPECT_EQ(exit.exitCode, row.code) << row.script;
    EXPECT_EQ(exit.cause, row.cause) << row.script;
    EXPECT_FALSE(child.running());
  }
}

TEST(ChildProcess, terminate_asks_and_kill_ends_at_once) {
  const struct {
    bool kill;
    std::string cause;
  } rows[] = {{false, "ended by signal 15 (Terminated)"}, {true, "ended by signal 9 (Killed)"}};
  for (const auto& row : rows) {
    platform::ChildProcess child;
    ASSERT_TRUE(child.start(shell("echo ready; exec sleep 600"), "/", nullptr));
    ASSERT_EQ(outputOf(child, "ready\n"), "ready\n");
    platform::ChildExit exit;
    EXPECT_FALSE(child.wait(false, exit));  // still running
    row.kill ? child.kill() : child.terminate();
    ASSERT_TRUE(child.wait(true, exit));
    EXPECT_EQ(exit.cause, row.cause);
  }
}

TEST(ChildProcess, what_cannot_start_fails_at_the_start_with_its_reason) {
  const struct {
    std::vector<std::string> argv;
    std::string folder;
    std::string why;
  } rows[] = {
      {{"/nonexistent/zelupdate", "run"},
       "/",
       "cannot run /nonexistent/zelupdate: No such file or directory"},
      {shell("true"), "/nonexistent", "cannot enter /nonexistent: No such file or directory"},
      {{}, "/", "nothing to start"},
  };
  for (const auto& row : rows) {
    platform::ChildProcess child;
    std::string why;
    EXPECT_FALSE(child.start(row.argv, row.folder, &why));
    EXPECT_EQ(why, row.why);
    EXPECT_FALSE(child.running());
  }
}

TEST(ChildProcess, children_end_when_their_parent_dies) {
  // A parent process starts a child, tells its number and dies; the child must go too.
  int report[2];
  ASSERT_EQ(::pipe(report), 0);
  const pid_t parent = ::fork();
  ASSERT_GE(parent, 0);
  if (parent == 0) {
    platform::ChildProcess child;
    if (!child.start(shell("exec sleep 600"), "/", nullptr)) std::_Exit(1);
    const int64_t id = child.id();
    [[maybe_unused]] const ssize_t n = ::write(report[1], &id, sizeof id);
    std::_Exit(0);  // no destructor: the system alone ends the child
  }
  ::close(report[1]);
  int64_t id = -1;
  ASSERT_EQ(::read(report[0], &id, sizeof id), static_cast<ssize_t>(sizeof id));
  ::close(report[0]);
  const int process = static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(id), 0));
  if (process < 0) GTEST_SKIP() << "no pidfd_open on this kernel";
  ::waitpid(parent, nullptr, 0);
  pollfd entry{process, POLLIN, 0};  // readable once the process has ended
  EXPECT_EQ(::poll(&entry, 1, kBoundMs), 1);
  ::close(process);
}

}  // namespace
