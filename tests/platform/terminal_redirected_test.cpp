// The terminal service where output is redirected, on every system: no terminal, so the
// console run prints plain lines; no raw keys; files read and written without waiting.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>

#include "platform/terminal.h"

namespace {

TEST(RedirectedTerminal, files_and_captured_output_are_no_terminal_and_read_without_waiting) {
  const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                     ("zel-terminal-" + std::to_string(std::random_device{}()));
  std::FILE* file = std::fopen(path.string().c_str(), "w+b");
  ASSERT_NE(file, nullptr);
  const int fd = fileno(file);
  // Standard output is captured by the test runner: no terminal there either.
  for (const int stream : {fd, 1}) {
    EXPECT_FALSE(platform::isTerminal(stream)) << stream;
    EXPECT_EQ(platform::terminalColumns(stream), 0) << stream;
    EXPECT_FALSE(platform::RawKeys(stream).active()) << stream;
  }
  ASSERT_TRUE(platform::writeOutput(fd, "line\n"));
  std::rewind(file);
  EXPECT_EQ(platform::waitForInput(fd, 60000), platform::InputWait::Ready);
  char buffer[16];
  ASSERT_EQ(platform::readInput(fd, buffer, sizeof buffer), 5);
  EXPECT_EQ(std::string(buffer, 5), "line\n");
  EXPECT_EQ(platform::readInput(fd, buffer, sizeof buffer), 0);  // the end
  std::fclose(file);
  std::filesystem::remove(path);
}

}  // namespace
