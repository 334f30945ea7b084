// Child processes on every system, with a helper program of the tests' own: its output and
// exit code, its folder and arguments, the request to end that reaches it, and what cannot
// start. Every wait is for an event, bounded, never a pause.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "platform/child_process.h"
#include "platform/requests.h"
#include "platform/whole_file.h"

namespace {

constexpr int kBoundMs = 20000;

std::vector<std::string> helper(std::vector<std::string> args) {
  args.insert(args.begin(), ZEL_TEST_CHILD);
  return args;
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

class Folder {
 public:
  Folder() {
    const std::string name = "zel-child-" + std::to_string(std::random_device{}());
    m_path = std::filesystem::temp_directory_path() / name;
    std::filesystem::create_directories(m_path);
  }
  ~Folder() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
  }
  std::string path() const { return m_path.string(); }
  std::string name() const { return m_path.filename().string(); }

 private:
  std::filesystem::path m_path;
};

TEST(ChildProgram, output_exit_code_folder_and_arguments_of_each_child) {
  Folder folder;
  const struct {
    std::vector<std::string> args;
    std::string output;
    int code;
  } rows[] = {
      {{"print", "out", "err", "3"}, "out\nerr\n", 3},
      {{"input"}, "no input\n", 0},  // nothing on its input
      {{"folder"}, folder.name() + "\n", 0},
      // Blanks, quotes and backslashes arrive as they were given, an empty one too.
      {{"args", "two words", "a\"quote", "back\\slash\\", "", "\\\"x", "tail\\"},
       "[two words][a\"quote][back\\slash\\][][\\\"x][tail\\]\n",
       0},
  };
  for (const auto& row : rows) {
    platform::ChildProcess child;
    std::string why;
    ASSERT_TRUE(child.start(helper(row.args), folder.path(), &why)) << why;
    EXPECT_GT(child.id(), 0);
    EXPECT_EQ(outputOf(child), row.output) << row.args[0];
    EXPECT_FALSE(child.outputOpen());
    platform::ChildExit exit;
    ASSERT_TRUE(child.wait(true, exit));
    EXPECT_TRUE(exit.exited) << row.args[0] << ": " << exit.cause;
    EXPECT_EQ(exit.exitCode, row.code) << row.args[0];
    EXPECT_FALSE(child.running());
  }
}

// The fleet's cancel: the request to end reaches the child that is asked, and only it; a
// second request ends a child that holds on; a kill ends a child at once.
TEST(ChildProgram, the_request_to_end_reaches_its_child_alone_and_kill_ends_at_once) {
  const struct {
    std::string mode;
    int requests;  // each after the child has seen the one before
    bool kill;
    bool exited;
  } rows[] = {
      {"wait", 1, false, true},
      {"hold", 2, false, false},
      {"hold", 1, true, false},
  };
  for (const auto& row : rows) {
    platform::ChildProcess asked;
    platform::ChildProcess other;
    ASSERT_TRUE(asked.start(helper({row.mode}), "", nullptr));
    ASSERT_TRUE(other.start(helper({"wait"}), "", nullptr));
    ASSERT_EQ(outputOf(asked, "waiting\n"), "waiting\n");
    ASSERT_EQ(outputOf(other, "waiting\n"), "waiting\n");
    for (int i = 0; i < row.requests; ++i) {
      asked.terminate();
      if (i == 0) {
        EXPECT_EQ(outputOf(asked, "asked to end\n"), "asked to end\n") << row.mode;
      }
    }
    if (row.kill) asked.kill();
    EXPECT_EQ(outputOf(asked), "") << row.mode;
    platform::ChildExit exit;
    ASSERT_TRUE(asked.wait(true, exit));
    EXPECT_EQ(exit.exited, row.exited) << row.mode << ": " << exit.cause;
    EXPECT_EQ(exit.exitCode, row.exited ? 5 : -1);
    EXPECT_EQ(exit.cause.empty(), row.exited) << row.mode;
    EXPECT_FALSE(other.wait(false, exit));  // still waiting: the request was not its
  }
}

// A parent that dies (killed: nothing of its own cleaned up) leaves no child running: the
// child takes the death as a request to end, so that it can end its work as a cancel.
TEST(ChildProgram, a_child_whose_parent_dies_is_asked_to_end_and_ends) {
  Folder folder;
  const std::string said = (std::filesystem::path(folder.path()) / "said.txt").string();
  platform::ChildProcess parent;
  ASSERT_TRUE(parent.start(helper({"orphan", said}), "", nullptr));
  EXPECT_EQ(outputOf(parent), "started\n");
  platform::ChildExit exit;
  ASSERT_TRUE(parent.wait(true, exit));
  EXPECT_TRUE(exit.exited) << exit.cause;
  // The child's word comes through a file, since its output went with its parent.
  std::string text;
  for (int waited = 0; waited < kBoundMs && text.empty(); waited += 50) {
    platform::waitForChildren({}, -1, 50);
    std::string why;
    platform::readRegularFile(said, 100, text, &why);
  }
  EXPECT_EQ(text, "asked to end\n");
}

TEST(ChildProgram, a_missing_program_or_folder_fails_at_the_start_with_its_reason) {
  Folder folder;
  const std::string missingProgram = std::string(ZEL_TEST_CHILD) + ".missing";
  const std::string missingFolder = folder.path() + "-missing";
  const struct {
    std::vector<std::string> argv;
    std::string folder;
    std::string why;  // the start of the reason; the system's own words follow
  } rows[] = {
      {{missingProgram, "run"}, "", "cannot run " + missingProgram + ": "},
      {helper({"input"}), missingFolder, "cannot enter " + missingFolder + ": "},
  };
  for (const auto& row : rows) {
    platform::ChildProcess child;
    std::string why;
    EXPECT_FALSE(child.start(row.argv, row.folder, &why));
    EXPECT_EQ(why.substr(0, row.why.size()), row.why);
    EXPECT_GT(why.size(), row.why.size()) << why;
    EXPECT_FALSE(child.running());
  }
}

}  // namespace
