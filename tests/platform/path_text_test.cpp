// File names outside ASCII, from the program's UTF-8 texts to the file system and back, on
// every system: the names on disk are checked as UTF-16 (independent of the conversion under
// test), and the file services find, read, write and delete files in such folders.
#include "platform/path_text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/host_files.h"
#include "platform/temp_files.h"
#include "platform/whole_file.h"

namespace {

namespace fs = std::filesystem;

// A UTF-8 literal as the program's text.
std::string utf8(const char8_t* text) {
  return std::string(reinterpret_cast<const char*>(text));
}

struct NameRow {
  const char8_t* text;
  const char16_t* onDisk;
};

const NameRow kNames[] = {
    {u8"Prüfstand", u"Prüfstand"}, {u8"Ölwanne Ärger", u"Ölwanne Ärger"}, {u8"测试台", u"测试台"},
    {u8"Zähler 📡", u"Zähler 📡"},  // beyond the first 65536: a surrogate pair in UTF-16
    {u8"plain", u"plain"},
};

// A path that is printed reads as the system writes it: on Windows with "\\".
TEST(PathText, a_name_joins_its_folder_with_the_systems_separator) {
#ifdef _WIN32
  const std::string sep = "\\";
#else
  const std::string sep = "/";
#endif
  const struct {
    std::string folder, name, joined;
  } rows[] = {
      {"", "history.jsonl", "history.jsonl"},
      {utf8(u8"Prüfstand Süd"), "zelupdate.ini", utf8(u8"Prüfstand Süd") + sep + "zelupdate.ini"},
      {"work" + sep, "record.jsonl", "work" + sep + "record.jsonl"},  // not doubled
      {"a/b", "c", "a/b" + sep + "c"},  // a separator given stays as given
  };
  for (const auto& row : rows) {
    EXPECT_EQ(platform::joinPath(row.folder, row.name), row.joined) << row.folder;
  }
}

TEST(PathText, names_outside_ascii_reach_the_disk_as_they_are_and_come_back) {
  std::string base;
  ASSERT_TRUE(platform::createTemporaryFolder("zel-names-", base));
  for (const NameRow& row : kNames) {
    const std::string name = utf8(row.text);
    SCOPED_TRACE(name);
    EXPECT_EQ(platform::pathFromUtf8(name).u16string(), row.onDisk);
    EXPECT_EQ(platform::utf8FromPath(fs::path(std::u16string(row.onDisk))), name);

    const std::string folder = base + "/" + name;
    std::error_code error;
    ASSERT_TRUE(fs::create_directories(platform::pathFromUtf8(folder), error)) << error.message();
    bool listed = false;
    for (const fs::directory_entry& entry : fs::directory_iterator(platform::pathFromUtf8(base))) {
      listed = listed || entry.path().filename().u16string() == row.onDisk;
    }
    EXPECT_TRUE(listed) << "no folder of that name on disk";

    // The file services with such a folder: write, size, read, a name in another ASCII case.
    const std::string file = folder + "/" + utf8(u8"Datei-ü.bin");
    std::string why;
    ASSERT_TRUE(platform::writeFileWhole(file, "1234", &why)) << why;
    uint64_t bytes = 0;
    EXPECT_TRUE(platform::regularFileSize(file, bytes));
    EXPECT_EQ(bytes, 4u);
    std::string contents;
    EXPECT_TRUE(platform::readRegularFile(file, 100, contents, &why)) << why;
    EXPECT_EQ(contents, "1234");
    const std::string otherCase = platform::resolveHostFile(folder + "/" + utf8(u8"DATEI-ü.BIN"));
    EXPECT_TRUE(platform::readRegularFile(otherCase, 100, contents, &why)) << why;
    EXPECT_EQ(contents, "1234");
    EXPECT_TRUE(platform::hostFileExists(folder + "/" + utf8(u8"datei-ü.BIN")));
    // Deleted by that name: gone, and a second delete tells so.
    EXPECT_TRUE(platform::removeFile(file));
    EXPECT_FALSE(platform::regularFileSize(file, bytes));
    EXPECT_FALSE(platform::removeFile(file));
  }
  std::error_code ignored;
  fs::remove_all(platform::pathFromUtf8(base), ignored);
}

}  // namespace
