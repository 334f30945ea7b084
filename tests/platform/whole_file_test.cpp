// The file service: lines appended whole under a lock, files read that need not exist.
#include "platform/whole_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

using testing_support::TempDir;

TEST(WholeFile, an_appended_line_never_merges_with_the_line_before) {
  const struct {
    const char* before;  // nullptr: no file
    const char* after;
  } rows[] = {
      {nullptr, "new\n"},
      {"", "new\n"},
      {"old\n", "old\nnew\n"},
      {"cut", "cut\nnew\n"},  // a crashed writer's last line without its line feed
  };
  for (const auto& row : rows) {
    TempDir dir;
    const std::string path = dir.file("state/zelupdate/history.jsonl");  // folders made too
    if (row.before) {
      ASSERT_TRUE(platform::writeFileWhole(path, row.before));
    }
    std::string why;
    ASSERT_TRUE(platform::appendLineLocked(path, "new", 1000, &why)) << why;
    EXPECT_EQ(dir.read("state/zelupdate/history.jsonl"), row.after)
        << (row.before ? row.before : "-");
  }
}

TEST(WholeFile, lines_appended_at_once_by_many_writers_stay_whole) {
  TempDir dir;
  const std::string path = dir.file("history.jsonl");
  constexpr int kWriters = 4, kLines = 50;
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&path, w] {
      const std::string line(8000, static_cast<char>('a' + w));
      for (int i = 0; i < kLines; ++i) EXPECT_TRUE(platform::appendLineLocked(path, line, 60000));
    });
  }
  for (std::thread& writer : writers) writer.join();
  std::string contents;
  ASSERT_TRUE(platform::readRegularFile(path, 1 << 24, contents));
  size_t lines = 0;
  for (size_t at = 0; at < contents.size(); at += 8001, ++lines) {
    ASSERT_EQ(contents.find_first_not_of(contents[at], at), at + 8000) << lines;
    ASSERT_EQ(contents[at + 8000], '\n');
  }
  EXPECT_EQ(lines, size_t{kWriters * kLines});
}

TEST(WholeFile, a_line_cut_short_by_a_full_disk_is_taken_back) {
  TempDir dir;
  const std::string path = dir.file("history.jsonl");
  ASSERT_TRUE(platform::writeFileWhole(path, "old\n"));
  // The file size limit stands in for a full disk: the write stops half-way.
  EXPECT_EXIT(
      {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        limit.rlim_cur = limit.rlim_max = 10;
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::string why;
        const bool ok = platform::appendLineLocked(path, std::string(100, 'x'), 1000, &why);
        std::_Exit(!ok && why == "only part of the line could be written" ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
  EXPECT_EQ(dir.read("history.jsonl"), "old\n");
}

TEST(WholeFile, only_regular_files_are_appended_to_and_read) {
  TempDir dir;
  ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
  ASSERT_EQ(::symlink(dir.file("gone").c_str(), dir.file("dangling").c_str()), 0);
  std::string why, contents = "stale";
  EXPECT_FALSE(platform::appendLineLocked(dir.file("fifo"), "x", 1000, &why));
  EXPECT_EQ(why, "not a regular file");
  EXPECT_FALSE(platform::appendLineLocked(dir.path(), "x", 1000));
  platform::FileReader reader;
  EXPECT_FALSE(reader.open(dir.file("fifo"), &why));  // and without waiting for a writer
  // Nothing under the name reads as empty; a link to nothing is a fault to report.
  EXPECT_TRUE(platform::readFileIfPresent(dir.file("none"), 100, contents));
  EXPECT_EQ(contents, "");
  EXPECT_FALSE(platform::readFileIfPresent(dir.file("dangling"), 100, contents, &why));
  dir.write("big", std::string(101, 'b'));
  EXPECT_FALSE(platform::readFileIfPresent(dir.file("big"), 100, contents, &why));
  EXPECT_EQ(why, "larger than 100 bytes");
  uint64_t size = 0;
  EXPECT_TRUE(platform::regularFileSize(dir.file("big"), size));
  EXPECT_EQ(size, 101u);
  EXPECT_FALSE(platform::regularFileSize(dir.file("fifo"), size));
}

// Whether a file or folder may be written: what the fleet and the settings check before a
// run. Root may write anything, so the read-only rows are looked at only for other users.
TEST(WholeFile, who_may_write_what) {
  TempDir dir;
  dir.write("file", "x");
  dir.write("read-only", "x");
  ASSERT_EQ(::chmod(dir.file("read-only").c_str(), 0444), 0);
  const bool root = ::geteuid() == 0;
  const struct {
    std::string path;
    bool may;
  } rows[] = {
      {dir.path(), true},
      {dir.file("file"), true},
      {dir.file("read-only"), root},
      {dir.file("missing"), false},
  };
  for (const auto& row : rows) EXPECT_EQ(platform::userMayWrite(row.path), row.may) << row.path;
}

}  // namespace
