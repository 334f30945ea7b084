#include "platform/host_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "platform/whole_file.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::TempDir;

TEST(HostFiles, names_are_found_regardless_of_case) {
  TempDir dir;
  dir.write("ROMWRITE.CNF", "x");
  dir.write("NO_ATSC.bin", "y");
  const std::pair<const char*, const char*> rows[] = {
      {"romwrite.cnf", "ROMWRITE.CNF"},
      {"ROMWRITE.CNF", "ROMWRITE.CNF"},
      {"NO_ATSC.BIN", "NO_ATSC.bin"},
      {"missing.bin", "missing.bin"},  // no match: the name stays as asked
  };
  for (const auto& [asked, found] : rows)
    EXPECT_EQ(platform::resolveHostFile(asked), found) << asked;
  EXPECT_TRUE(platform::hostFileExists("no_atsc.BIN"));
  EXPECT_FALSE(platform::hostFileExists("NO_DVBT.bin"));
}

TEST(HostFiles, a_path_with_a_folder_matches_only_its_last_part) {
  TempDir dir;
  dir.write("Image.Bin", "z");
  EXPECT_EQ(platform::resolveHostFile(dir.path() + "/IMAGE.BIN"), dir.path() + "/Image.Bin");
}

TEST(HostFiles, writing_replaces_the_file_of_another_case_instead_of_adding_one) {
  TempDir dir;
  dir.write("romwrite.cnf", "old");
  std::FILE* file = platform::openHostFile("ROMWRITE.CNF", "w");
  ASSERT_NE(file, nullptr);
  std::fputs("new", file);
  std::fclose(file);
  EXPECT_EQ(dir.read("romwrite.cnf"), "new");
  EXPECT_EQ(dir.read("ROMWRITE.CNF"), "");  // no second file beside it
}

TEST(HostFiles, only_regular_files_are_opened) {
  TempDir dir;
  // Opening a named pipe for reading would wait for a writer that never comes.
  ASSERT_EQ(::mkfifo(dir.file("NO_ATSC.bin").c_str(), 0600), 0);
  ::mkdir(dir.file("NO_DVBT.bin").c_str(), 0700);
  EXPECT_FALSE(platform::hostFileExists("NO_ATSC.bin"));
  EXPECT_FALSE(platform::hostFileExists("no_dvbt.bin"));
  EXPECT_EQ(platform::openHostFile("NO_ATSC.bin", "wb"), nullptr);
}

}  // namespace

// A file a run writes as it goes: never waits for a FIFO's reader, empties only a regular file.
TEST(HostFiles, output_files_open_without_waiting_only_where_writing_can_go) {
  TempDir dir(false);
  dir.write("old", "old text");
  ::mkfifo(dir.file("fifo").c_str(), 0600);
  ::mkdir(dir.file("folder").c_str(), 0700);
  const int reader = ::open(dir.file("fifo").c_str(), O_RDONLY | O_NONBLOCK);
  const int readerless = ::mkfifo(dir.file("lonely").c_str(), 0600);
  const std::pair<std::string, std::string> rows[] = {{"old", ""},
                                                      {"new", ""},
                                                      {"fifo", ""},
                                                      {"/dev/null", ""},
                                                      {"lonely", "a FIFO that nobody reads"},
                                                      {"folder", "Is a directory"}};
  for (const auto& [name, refusal] : rows) {
    std::string why;
    std::FILE* file = platform::openOutputFile(name[0] == '/' ? name : dir.file(name), &why);
    EXPECT_EQ(why, refusal) << name;
    EXPECT_EQ(file != nullptr, refusal.empty()) << name;
    if (file && std::fputs("line\n", file) >= 0) {
      EXPECT_EQ(std::fclose(file), 0) << name;
    }
  }
  EXPECT_EQ(dir.read("old"), "line\n");
  char got[16] = {};
  EXPECT_EQ(::read(reader, got, sizeof got), 5);
  ::close(reader);
  EXPECT_EQ(readerless, 0);
}
