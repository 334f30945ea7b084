// New folders that are nobody else's, and files placed as hard links or copies, never as
// symbolic links.
#include "platform/folder_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

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

// The file placed has the contents of the file it came from and is a regular file: the same
// file (a hard link) on one file system, a copy on another (/dev/shm, where it is one).
TEST(FolderFiles, files_are_placed_as_hard_links_or_copies) {
  testing_support::TempDir dir(false);
  char shmTemplate[] = "/dev/shm/zelupdate-test-XXXXXX";
  const char* shm = ::mkdtemp(shmTemplate);
  struct stat dirInfo {
  }, shmInfo{};
  const bool otherDevice = shm != nullptr && ::stat(dir.path().c_str(), &dirInfo) == 0 &&
                           ::stat(shm, &shmInfo) == 0 && dirInfo.st_dev != shmInfo.st_dev;
  dir.write("image.bin", "image");
  fs::create_symlink(dir.file("image.bin"), dir.file("named.bin"));
  if (shm) std::ofstream(std::string(shm) + "/far.bin") << "far";
  dir.write("taken.bin", "old");
  const struct {
    const char* name;
    std::string from;
    const char* to;
    platform::PlacedFile result;
    const char* contents;
  } rows[] = {
      {"beside", dir.file("image.bin"), "a.bin", platform::PlacedFile::HardLink, "image"},
      // The file a symbolic link names, not the link.
      {"through a link", dir.file("named.bin"), "b.bin", platform::PlacedFile::HardLink, "image"},
      {"another file system", shm ? std::string(shm) + "/far.bin" : dir.file("image.bin"), "c.bin",
       otherDevice ? platform::PlacedFile::Copy : platform::PlacedFile::HardLink,
       shm ? "far" : "image"},
      {"nothing to place", dir.file("missing.bin"), "d.bin", platform::PlacedFile::Failed, ""},
      // A name that is taken keeps what it has.
      {"taken", dir.file("image.bin"), "taken.bin", platform::PlacedFile::Failed, "old"},
  };
  for (const auto& row : rows) {
    std::string why;
    EXPECT_EQ(platform::placeLinkOrCopy(row.from, dir.file(row.to), &why), row.result)
        << row.name << ": " << why;
    EXPECT_EQ(dir.read(row.to), row.contents) << row.name;
    if (row.result == platform::PlacedFile::Failed) continue;
    struct stat placed {
    }, source{};
    ASSERT_EQ(::lstat(dir.file(row.to).c_str(), &placed), 0) << row.name;
    ASSERT_EQ(::stat(row.from.c_str(), &source), 0) << row.name;
    EXPECT_TRUE(S_ISREG(placed.st_mode)) << row.name;
    EXPECT_EQ(placed.st_ino == source.st_ino && placed.st_dev == source.st_dev,
              row.result == platform::PlacedFile::HardLink)
        << row.name;
  }
  if (shm) fs::remove_all(shm);
}

}  // namespace
