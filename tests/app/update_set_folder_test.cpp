// The window's update set folder: the decision at the start, behind scripted answers of the
// file system, and the user's choice on the real one.
#include "app/update_set_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "platform/path_text.h"
#include "platform/profile.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr const char* kProgram = "C:\\Program Files\\zelupdate";
constexpr const char* kUser = "C:\\Users\\tech\\Documents\\zelupdate";
constexpr const char* kSet = "D:\\sets\\2026";

struct Row {
  const char* name;
  const char* setting;                        // "" unset
  const char* current;                        // where the window was started
  const char* user;                           // the user's folder ("" on Linux)
  bool programHoldsSet;                       // the program's folder has an update set
  std::map<std::string, FolderState> states;  // default: Usable
  bool userCreatable;
  const char* folder;  // expected
  bool problem;        // a box is due
  std::string problemHas;
};

const Row kRows[] = {
    {"setting usable", kSet, kProgram, kUser, false, {}, true, kSet, false, ""},
    // A setting that cannot be used is said, with the folder used instead.
    {"setting missing",
     kSet,
     "D:\\work",
     kUser,
     false,
     {{kSet, FolderState::Missing}},
     true,
     "D:\\work",
     true,
     "cannot be used: it does not exist.\nThe window uses\nD:\\work."},
    {"setting is a file",
     kSet,
     "D:\\work",
     "",
     false,
     {{kSet, FolderState::NotAFolder}},
     true,
     "D:\\work",
     true,
     "set in [Window] UpdateSetFolder= of S.ini\ncannot be used: it is not a"},
    {"setting not writable",
     kSet,
     "D:\\work",
     "",
     false,
     {{kSet, FolderState::NotWritable}},
     true,
     "D:\\work",
     true,
     "it cannot be written"},
    // The Start menu's window: the user's folder, not the installation folder.
    {"program folder without a set", "", kProgram, kUser, false, {}, true, kUser, false, ""},
    {"program folder with a set", "", kProgram, kUser, true, {}, true, kProgram, false, ""},
    {"bad setting in the program folder",
     kSet,
     kProgram,
     kUser,
     false,
     {{kSet, FolderState::Missing}},
     true,
     kUser,
     true,
     "The window uses\n" + std::string(kUser)},
    {"another folder", "", "D:\\work", kUser, false, {}, true, "D:\\work", false, ""},
    // Linux: no user's folder; the window stays where it was started.
    {"no user's folder", "", kProgram, "", false, {}, true, kProgram, false, ""},
    {"user's folder cannot be created",
     "",
     kProgram,
     kUser,
     false,
     {},
     false,
     kProgram,
     true,
     "cannot be created: access denied.\nThe window uses\nC:\\Program Files\\zelupdate."},
    {"user's folder not writable",
     "",
     kProgram,
     kUser,
     false,
     {{kUser, FolderState::NotWritable}},
     true,
     kProgram,
     true,
     "cannot be used: it cannot be written"},
};

TEST(UpdateSetFolder, the_start_folder_follows_the_setting_then_the_program_folder) {
  for (const Row& row : kRows) {
    std::set<std::string> created;
    FolderFacts facts;
    facts.state = [&row](const std::string& folder) {
      const auto it = row.states.find(folder);
      return it == row.states.end() ? FolderState::Usable : it->second;
    };
    facts.same = [](const std::string& a, const std::string& b) { return a == b; };
    facts.holdsUpdateSet = [&row](const std::string& folder) {
      return folder == kProgram && row.programHoldsSet;
    };
    facts.create = [&row, &created](const std::string& folder, std::string& why) {
      if (!row.userCreatable) why = "access denied";
      if (row.userCreatable) created.insert(folder);
      return row.userCreatable;
    };
    const StartFolder got = decideStartFolder({.setting = row.setting,
                                               .current = row.current,
                                               .programFolder = kProgram,
                                               .userFolder = row.user,
                                               .settingsFile = "S.ini"},
                                              facts);
    EXPECT_EQ(got.folder, row.folder) << row.name;
    EXPECT_EQ(!got.problem.empty(), row.problem) << row.name << "\n" << got.problem;
    EXPECT_NE(got.problem.find(row.problemHas), std::string::npos) << row.name << "\n"
                                                                   << got.problem;
    // The user's folder is made only for a window started in the program's folder without a
    // usable setting.
    const bool settingUsed = row.setting[0] != '\0' && row.states.count(kSet) == 0;
    const bool startMenu = std::string(row.current) == kProgram && row.user[0] != '\0' &&
                           !row.programHoldsSet && !settingUsed;
    EXPECT_EQ(created.count(kUser), startMenu && row.userCreatable ? 1u : 0u) << row.name;
  }
}

// On the real file system: the start enters the folder; a chosen folder that cannot be used
// leaves the folder in use and the settings file as they were; a usable one is entered and
// kept for the next start.
TEST(UpdateSetFolder, a_chosen_folder_is_checked_entered_and_kept) {
  namespace fs = std::filesystem;
  testing_support::TempDir dir(true);
  dir.write("file", "x");
  fs::create_directory(dir.file("set"));
  fs::create_directory(dir.file("other"));
  CUpdateSetFolder folder;
  folder.m_settingsFile = dir.file("zelupdate.ini");
  EXPECT_EQ(folder.start({.setting = dir.file("set"),
                          .current = dir.path(),
                          .programFolder = "",
                          .userFolder = "",
                          .settingsFile = folder.m_settingsFile}),
            "");
  EXPECT_EQ(fs::current_path(), fs::path(dir.file("set")));
  // In the system's own spelling: "C:\...\set" on Windows.
  EXPECT_EQ(currentFolderText(),
            platform::utf8FromPath(platform::pathFromUtf8(dir.file("set")).make_preferred()));

  for (const char* bad : {"missing", "file"}) {
    const ui::FolderChoice choice = folder.choose(dir.file(bad));
    EXPECT_FALSE(choice.used) << bad;
    EXPECT_NE(choice.message.find(dir.file(bad)), std::string::npos) << choice.message;
    EXPECT_EQ(folder.m_folder, dir.file("set"));
    EXPECT_EQ(fs::current_path(), fs::path(dir.file("set")));
    EXPECT_FALSE(fs::exists(folder.m_settingsFile));
  }
  const ui::FolderChoice choice = folder.choose(dir.file("other"));
  EXPECT_TRUE(choice.used);
  EXPECT_EQ(choice.message, "");
  EXPECT_EQ(fs::current_path(), fs::path(dir.file("other")));
  EXPECT_EQ(
      platform::getPrivateProfileString("Window", "UpdateSetFolder", "", folder.m_settingsFile),
      dir.file("other"));
}

}  // namespace
