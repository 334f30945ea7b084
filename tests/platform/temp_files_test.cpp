// Temporary files and folders: new names in TMPDIR, and a clear word when TMPDIR is wrong.
#include "platform/temp_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/temp_dir.h"

namespace {

class TemporaryFolder {
 public:
  explicit TemporaryFolder(const std::string& value) {
    if (const char* old = std::getenv("TMPDIR")) m_old = old;
    ::setenv("TMPDIR", value.c_str(), 1);
  }
  ~TemporaryFolder() { ::setenv("TMPDIR", m_old.c_str(), 1); }

 private:
  std::string m_old = "/tmp";
};

TEST(TempFiles, files_and_folders_get_new_names_in_tmpdir) {
  testing_support::TempDir dir;
  TemporaryFolder tmp(dir.path());
  std::string first, second, folder, why;
  ASSERT_TRUE(platform::createTemporaryFile("zelupdate-job-", first, &why)) << why;
  ASSERT_TRUE(platform::createTemporaryFile("zelupdate-job-", second, &why)) << why;
  ASSERT_TRUE(platform::createTemporaryFolder("zelupdate-demo-", folder, &why)) << why;
  EXPECT_NE(first, second);
  for (const std::string& path : {first, second, folder}) {
    EXPECT_EQ(std::filesystem::path(path).parent_path(), dir.path()) << path;
  }
  EXPECT_EQ(std::filesystem::path(first).filename().string().rfind("zelupdate-job-", 0), 0u);
  EXPECT_TRUE(std::filesystem::is_regular_file(first));
  struct stat info {};
  ASSERT_EQ(::stat(folder.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);  // the owner's alone
  // The fallback beside the work: a new name in the folder asked for, whatever TMPDIR says.
  testing_support::TempDir work;
  std::string here;
  ASSERT_TRUE(platform::createTemporaryFileIn(work.path(), "zelupdate-job-", here, &why)) << why;
  EXPECT_EQ(std::filesystem::path(here).parent_path(), work.path());
  EXPECT_TRUE(std::filesystem::is_regular_file(here));
  EXPECT_FALSE(platform::createTemporaryFileIn(work.file("missing"), "x-", here, &why));
}

TEST(TempFiles, a_tmpdir_that_is_no_folder_is_named_in_the_error) {
  testing_support::TempDir dir;
  dir.write("file", "");
  const struct {
    std::string tmpdir;
    std::string why;
  } rows[] = {
      {dir.file("missing"), "TMPDIR names " + dir.file("missing") + ": No such file or directory"},
      {dir.file("file"), "TMPDIR names " + dir.file("file") + ": not a folder"},
  };
  for (const auto& row : rows) {
    TemporaryFolder tmp(row.tmpdir);
    std::string path, why;
    EXPECT_FALSE(platform::createTemporaryFile("x-", path, &why));
    EXPECT_EQ(why, row.why);
    EXPECT_FALSE(platform::createTemporaryFolder("x-", path, &why));
    EXPECT_EQ(why, row.why);
  }
}

}  // namespace
