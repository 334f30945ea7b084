#include "platform/host_files.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

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
