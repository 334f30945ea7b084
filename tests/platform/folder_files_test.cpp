// New folders that are nobody else's. (Files placed as hard links or copies are tested with
// the fleet's folders, tests/cli/fleet_test.cpp.)
#include "platform/folder_files.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

TEST(FolderFiles, a_new_folder_is_made_only_where_nothing_is) {
  testing_support::TempDir dir(false);
  fs::create_directory(dir.file("folder"));
  dir.write("file", "x");
  fs::create_symlink(dir.file("nowhere"), dir.file("dangling"));
  const struct {
    const char* name;
    platform::NewFolder result;
  } rows[] = {
      {"new", platform::NewFolder::Created},
      {"folder", platform::NewFolder::Exists},
      {"file", platform::NewFolder::Exists},
      // A link to nothing still takes the name: what it names could appear any time.
      {"dangling", platform::NewFolder::Exists},
      // The folder above must exist: nothing is made on the way.
      {"missing/new", platform::NewFolder::Failed},
  };
  for (const auto& row : rows) {
    std::string why;
    EXPECT_EQ(platform::createNewFolder(dir.file(row.name), &why), row.result) << row.name;
    EXPECT_EQ(why.empty(), row.result != platform::NewFolder::Failed) << row.name;
  }
  EXPECT_TRUE(fs::is_directory(dir.file("new")));
  // Asked again, the folder just made is taken.
  EXPECT_EQ(platform::createNewFolder(dir.file("new")), platform::NewFolder::Exists);
}

}  // namespace
